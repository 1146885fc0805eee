// The network source's site dialog: the recalled sites in an editable combo box (4060), the
// first one chosen; OK is offered only while the text is not empty.
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "platform/qt/codec_forms.h"
#include "platform/qt/form_support.h"
#include "zov/zev_dialogs.h"

namespace zov::qtforms {

QDialog* siteForm(QWidget* parent, DialogData& data) {
  auto* site = dynamic_cast<network::SiteDialogData*>(&data);
  if (!site) return nullptr;
  QDialog* dialog = newDialog(parent, "Orvane Network Site");
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(new QLabel(QStringLiteral("Enter the name or address of a ZEV site:"), dialog));
  auto* combo = withId(new QComboBox(dialog), network::kSiteCombo);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  for (const std::string& entry : site->recall) combo->addItem(qs(entry));
  combo->setEditText(qs(site->text));
  combo->setMinimumWidth(280);
  layout->addWidget(combo);

  QPushButton* ok = addOkCancel(layout, dialog, QStringLiteral("OK"), false);

  auto offerOk = [ok, combo] { ok->setEnabled(!combo->currentText().isEmpty()); };
  QObject::connect(combo, &QComboBox::editTextChanged, ok, offerOk);
  offerOk();
  QObject::connect(ok, &QPushButton::clicked, dialog, [dialog, combo, site] {
    if (combo->currentText().isEmpty()) return;  // Enter on an empty text
    site->text = combo->currentText().toStdString();
    dialog->done(IDOK);
  });
  return dialog;
}

}  // namespace zov::qtforms
