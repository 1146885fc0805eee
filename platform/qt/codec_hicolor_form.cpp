// Dialog 106, "Orvane: Display is not HiColor": three lines, the check box 4011 and OK.
#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/qt/codec_forms.h"
#include "platform/qt/form_support.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::qtforms {

QDialog* hiColorForm(QWidget* parent, DialogData& data) {
  auto* hiColor = dynamic_cast<codec::HiColorDialogData*>(&data);
  if (!hiColor) return nullptr;
  QDialog* dialog = newDialog(parent, codec::kHiColorDialog);
  auto* layout = new QVBoxLayout(dialog);
  for (const std::string& line : hiColor->lines) layout->addWidget(new QLabel(qs(line), dialog));
  auto* check = withId(new QCheckBox(qs(hiColor->checkBoxText), dialog), 4011);
  check->setChecked(hiColor->dontShowAgain);
  QObject::connect(check, &QCheckBox::toggled,
                   [hiColor](bool checked) { hiColor->dontShowAgain = checked; });
  layout->addWidget(check);
  QPushButton* ok = endButton(dialog, QStringLiteral("OK"), IDOK);
  ok->setDefault(true);
  layout->addWidget(ok, 0, Qt::AlignCenter);
  return dialog;
}

}  // namespace zov::qtforms
