// SPDX-License-Identifier: GPL-3.0-or-later
#include "filelist/filelist.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QKeyEvent>
#include <QMouseEvent>

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
    setDragEnabled(false);  // rows are never dragged out of the list
    setAutoScroll(false);   // a drag scrolls the list by the pointer's place on the screen
    setMouseTracking(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
}

namespace {

// The dropped file names, when the drag carries any (local files only).
QStringList droppedFiles(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

}  // namespace

void FileList::dragEnterEvent(QDragEnterEvent* event) {
    // A drag without file names is refused while it is over the list.
    acceptFiles(event);
}

void FileList::dragMoveEvent(QDragMoveEvent* event) { acceptFiles(event); }

// Files are copied into the list, never moved: the source keeps them whatever the user held.
void FileList::acceptFiles(QDropEvent* event) {
    if (droppedFiles(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void FileList::dropEvent(QDropEvent* event) {
    const QStringList paths = droppedFiles(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (m_events) m_events->listDrop(paths);
}

void FileList::appendRows(const QStringList& texts) {
    QList<QTreeWidgetItem*> items;
    items.reserve(texts.size());
    for (const QString& text : texts) {
        auto* item = new QTreeWidgetItem(QStringList{text});
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
        items << item;
    }
    addTopLevelItems(items);
}

bool FileList::isInFileList(const QString& path) const {
    bool found = false;
    const int n = rowCount();
    for (int i = 1; i <= n; ++i)
        if (rowText(i) == path) found = true;
    return found;
}

void FileList::mousePressEvent(QMouseEvent* event) {
    QTreeWidget::mousePressEvent(event);  // selects the row under the pointer
    if (!m_events) return;
    if (positionAt(event->position().toPoint()) > 0) m_events->listItemClick();
    m_events->listMouseDown();
}

void FileList::mouseMoveEvent(QMouseEvent* event) {
    // With a button held the owner moves the rows; the list's own drag-selecting stays out.
    if (event->buttons() == Qt::NoButton) QTreeWidget::mouseMoveEvent(event);
    if (m_events)
        m_events->listMouseMove(event->position().toPoint(), event->globalPosition().toPoint());
}

void FileList::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    if (m_events) m_events->listMouseUp();
}

void FileList::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (m_events) m_events->listDblClick();
}

void FileList::keyPressEvent(QKeyEvent* event) {
    if (m_events && m_events->listKeyDown(event)) {
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
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

namespace {
constexpr int turnRole = Qt::UserRole;
}

int FileList::rowTurn(int position) const {
    const QTreeWidgetItem* item = rowItem(position);
    return item ? item->data(0, turnRole).toInt() : 0;
}

void FileList::setRowTurn(int position, int quarterTurns) {
    if (QTreeWidgetItem* item = rowItem(position)) item->setData(0, turnRole, (quarterTurns % 4 + 4) % 4);
}

QList<int> FileList::rowTurns() const {
    QList<int> turns;
    for (int i = 1; i <= rowCount(); ++i) turns << rowTurn(i);
    return turns;
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
