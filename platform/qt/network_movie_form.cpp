// The network source's movie dialog: the server's movie names in a list (4058), the first one
// chosen; OK or a double click takes the chosen one.
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "platform/qt/codec_forms.h"
#include "platform/qt/form_support.h"
#include "zov/zev_dialogs.h"

namespace zov::qtforms {

QDialog* movieForm(QWidget* parent, DialogData& data) {
  auto* movie = dynamic_cast<network::MovieDialogData*>(&data);
  if (!movie) return nullptr;
  QDialog* dialog = newDialog(parent, "Orvane Network Movies");
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(new QLabel(QStringLiteral("Choose a movie:"), dialog));
  auto* list = withId(new QListWidget(dialog), network::kMovieList);
  for (const std::string& name : movie->movies) list->addItem(qs(name));
  if (movie->selected >= 0 && movie->selected < list->count()) list->setCurrentRow(movie->selected);
  layout->addWidget(list);

  QPushButton* ok = addOkCancel(layout, dialog, QStringLiteral("OK"), false);

  // Without a selection the source beeps and asks again.
  auto take = [dialog, list, movie] {
    movie->selected = list->selectedItems().isEmpty() ? -1 : list->currentRow();
    dialog->done(IDOK);
  };
  QObject::connect(ok, &QPushButton::clicked, dialog, take);
  QObject::connect(list, &QListWidget::itemDoubleClicked, dialog, take);
  return dialog;
}

}  // namespace zov::qtforms
