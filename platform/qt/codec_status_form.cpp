// Dialog 103, "Orvane Status": the processor (4022) and whether the fast video path was used
// (4002). OK ends with 1, Cancel with 0 (the library maps the codes).
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/qt/codec_forms.h"
#include "platform/qt/form_support.h"
#include "zov/zovcod32_dialogs.h"

namespace zov::qtforms {

QDialog* statusForm(QWidget* parent, DialogData& data) {
  auto* status = dynamic_cast<codec::StatusDialogData*>(&data);
  if (!status) return nullptr;
  QDialog* dialog = newDialog(parent, codec::kStatusDialog);
  auto* layout = new QVBoxLayout(dialog);
  auto* form = new QFormLayout;
  // Without a known processor the dialog keeps its own text.
  const QString processor =
      status->processor.empty() ? QStringLiteral("Unknown processor") : qs(status->processor);
  form->addRow(QStringLiteral("Processor:"), withId(new QLabel(processor, dialog), 4022));
  form->addRow(QStringLiteral("Fast Video:"),
               withId(new QLabel(qs(status->fastVideo), dialog), 4002));
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* ok = endButton(dialog, QStringLiteral("OK"), IDOK);
  ok->setDefault(true);
  buttons->addButton(ok, QDialogButtonBox::AcceptRole);
  buttons->addButton(endButton(dialog, QStringLiteral("Cancel"), IDCANCEL),
                     QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  return dialog;
}

}  // namespace zov::qtforms
