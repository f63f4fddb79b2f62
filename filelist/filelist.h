#pragma once

#include <QTreeWidget>

namespace pictolio {

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

    // The selected row's position; 0 when no row is selected.
    int selectedPosition() const;
    void selectRow(int position);
    // Scrolls as little as needed to bring the row into view.
    void makeVisible(int position);
    // The position of the row at a point of the viewport; 0 when there is none.
    int positionAt(const QPoint& viewportPoint) const;

    QTreeWidgetItem* rowItem(int position) const { return topLevelItem(position - 1); }
    int positionOf(const QTreeWidgetItem* item) const;
};

}  // namespace pictolio
