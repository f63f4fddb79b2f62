#include "filelist/filelist.h"

#include <QHeaderView>

namespace pictolio {

FileList::FileList(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    header()->hide();  // until the column is added
}

void FileList::addColumn(const QString& text) {
    setHeaderLabels({text});
    header()->show();
}

QString FileList::rowText(int position) const {
    const QTreeWidgetItem* item = rowItem(position);
    return item ? item->text(0) : QString();
}

void FileList::setRowText(int position, const QString& text) {
    if (QTreeWidgetItem* item = rowItem(position)) item->setText(0, text);
}

void FileList::appendRow(const QString& text) { insertRow(rowCount() + 1, text); }

void FileList::insertRow(int position, const QString& text) {
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
    insertTopLevelItem(qBound(0, position - 1, rowCount()), item);
}

void FileList::removeRow(int position) { delete takeTopLevelItem(position - 1); }

QStringList FileList::rowTexts() const {
    QStringList texts;
    for (int i = 1; i <= rowCount(); ++i) texts << rowText(i);
    return texts;
}

int FileList::selectedPosition() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) return 0;
    return positionOf(selected.first());
}

void FileList::selectRow(int position) {
    if (QTreeWidgetItem* item = rowItem(position)) {
        setCurrentItem(item);
        item->setSelected(true);
    }
}

void FileList::makeVisible(int position) {
    if (QTreeWidgetItem* item = rowItem(position)) scrollToItem(item, QAbstractItemView::EnsureVisible);
}

int FileList::positionAt(const QPoint& viewportPoint) const {
    return positionOf(itemAt(viewportPoint));
}

int FileList::positionOf(const QTreeWidgetItem* item) const {
    if (!item) return 0;
    const int index = indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
    return index < 0 ? 0 : index + 1;
}

}  // namespace pictolio
