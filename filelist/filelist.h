// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTreeWidget>

namespace pictolio {

// What the user does on the list, for its owner to handle. Positions are in the viewport's
// coordinates; the global one is on the screen.
class FileListEvents {
public:
    virtual ~FileListEvents() = default;
    virtual void listItemClick() = 0;
    virtual void listMouseDown() = 0;
    virtual void listMouseMove(const QPoint& position, const QPoint& globalPosition) = 0;
    virtual void listMouseUp() = 0;
    virtual void listDblClick() = 0;
    // True when the key was handled; other keys keep the list's own handling.
    virtual bool listKeyDown(QKeyEvent* event) = 0;
    // File names dropped on the list, in the order of the drop.
    virtual void listDrop(const QStringList& paths) = 0;
};

// The file list: one row per picture, its text the picture's full path, shown as a report with
// a single column. Rows are numbered from 1 in display order, which is conversion order;
// duplicates are allowed.
class FileList : public QTreeWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);

    // Adds the one column, headed by text.
    void addColumn(const QString& text);

    int rowCount() const { return topLevelItemCount(); }
    QString rowText(int position) const;
    void setRowText(int position, const QString& text);
    void appendRow(const QString& text);
    // Inserts so that the new row stands at position; count + 1 appends.
    void insertRow(int position, const QString& text);
    void removeRow(int position);
    void removeAllRows() { clear(); }
    QStringList rowTexts() const;
    // Appends rows in one go (a folder's files).
    void appendRows(const QStringList& texts);
    // How a row's picture is turned when shown and printed, in quarter turns clockwise (0 to 3).
    // The turn goes with the row, not with its text: it is the row's own while the list lives.
    int rowTurn(int position) const;
    void setRowTurn(int position, int quarterTurns);
    QList<int> rowTurns() const;
    // Whether a row's text is exactly this path (letter case counts).
    bool isInFileList(const QString& path) const;

    // The selected row's position; 0 when no row is selected.
    int selectedPosition() const;
    void selectRow(int position);
    // Scrolls as little as needed to bring the row into view.
    void makeVisible(int position);
    // The position of the row at a point of the viewport; 0 when there is none.
    int positionAt(const QPoint& viewportPoint) const;

    QTreeWidgetItem* rowItem(int position) const { return topLevelItem(position - 1); }
    int positionOf(const QTreeWidgetItem* item) const;

    void setEvents(FileListEvents* events) { m_events = events; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void acceptFiles(QDropEvent* event);
    FileListEvents* m_events = nullptr;
};

}  // namespace pictolio
