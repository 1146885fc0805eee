#include "compressor/gui/edit_list_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "compressor/source_file.h"
#include "encoder/compression_settings.h"

namespace zov {

EditListDialog::EditListDialog(QWidget* parent, const EditListContext& context)
    : QDialog(parent), context_(context) {
  setWindowTitle("Input AVI File List");
}

EditListDialog::~EditListDialog() = default;

size_t EditListDialog::currentSegment() const {
  return 0;
}

QPushButton* EditListDialog::button(const char*) const {
  return nullptr;
}

void EditListDialog::add() {}
void EditListDialog::insert() {}
void EditListDialog::remove() {}
void EditListDialog::saveList() {}
void EditListDialog::loadList() {}
void EditListDialog::refill(int) {}
void EditListDialog::updateButtons() {}
void EditListDialog::addAt(size_t) {}

int runEditListDialog(QWidget* parent, const EditListContext& context, size_t& current) {
  EditListDialog dialog(parent, context);
  int result = dialog.exec() == QDialog::Accepted ? 1 : 0;
  current = dialog.currentSegment();
  return result;
}

}  // namespace zov
