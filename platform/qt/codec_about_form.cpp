// Dialog 101, "About the Orvane Codec": a logo, the version line and the button "Wow!".
#include <QLabel>
#include <QVBoxLayout>

#include "platform/qt/codec_forms.h"
#include "platform/qt/form_support.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::qtforms {

QDialog* aboutForm(QWidget* parent, DialogData& data) {
  auto* about = dynamic_cast<codec::AboutDialogData*>(&data);
  if (!about) return nullptr;
  QDialog* dialog = newDialog(parent, codec::kAboutDialog);
  auto* layout = new QVBoxLayout(dialog);
  auto* logo = new QLabel(QStringLiteral("Orvane"), dialog);
  QFont font = logo->font();
  font.setPointSize(font.pointSize() * 2);
  font.setBold(true);
  logo->setFont(font);
  logo->setAlignment(Qt::AlignCenter);
  layout->addWidget(logo);
  auto* version = new QLabel(qs(about->versionLine), dialog);
  version->setAlignment(Qt::AlignCenter);
  layout->addWidget(version);
  // Command 1 ends the dialog with 1; closing it (command 2) with 0.
  QPushButton* wow = endButton(dialog, qs(about->buttonText), IDOK);
  wow->setDefault(true);
  layout->addWidget(wow, 0, Qt::AlignCenter);
  return dialog;
}

}  // namespace zov::qtforms
