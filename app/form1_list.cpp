// SPDX-License-Identifier: GPL-3.0-or-later
// The file list's editing: rows removed, cleared, dragged to another place, moved up and down,
// and added from the open-file dialog.
#include <QKeyEvent>
#include <QScrollBar>

#include "app/form1.h"
#include "app/listhistory.h"
#include "common/errortrap.h"
#include "common/paths.h"
#include "filelist/filelist.h"
#include "platform/cursors.h"

namespace pictolio {

void Form1::showListPointer() {
    QWidget* viewport = ListView1->viewport();
    if (isBusy())
        viewport->setCursor(Qt::WaitCursor);
    else if (m_listPointer)
        viewport->setCursor(*m_listPointer);
    else
        viewport->unsetCursor();
}

void Form1::listItemClick() {
    // The drag pointer, read from its file at every click; without a readable file, the arrow.
    m_listPointer = loadCursorFile(m_config.programFolder + QStringLiteral("/drag.ico"))
                        .value_or(QCursor(Qt::ArrowCursor));
    showListPointer();
    const int selected = ListView1->selectedPosition();
    DraggedRow = selected > 0 ? QPersistentModelIndex(ListView1->model()->index(selected - 1, 0))
                              : QPersistentModelIndex();
}

void Form1::listMouseDown() {
    DragActive = true;
    ++m_dragNumber;  // the moves of one drag are one step to undo
}

void Form1::listMouseMove(const QPoint& position, const QPoint& globalPosition) {
    if (!isBusy()) setMousePointer(Default);
    if (!DragActive) return;
    const int under = ListView1->positionAt(position);
    // A dragged row removed since (deleted, cleared, moved) is forgotten.
    if (under == 0 || !DraggedRow.isValid()) return;
    const int dragged = DraggedRow.row() + 1;
    const QString kept = ListView1->rowText(dragged);
    if (ListView1->rowText(under) == kept) return;
    ListHistory::Edit edit(*m_history, QStringLiteral("Drag"), m_dragNumber);
    const int keptTurn = ListView1->rowTurn(dragged);
    ListView1->setRowText(dragged, ListView1->rowText(under));
    ListView1->setRowText(under, kept);
    ListView1->setRowTurn(dragged, ListView1->rowTurn(under));  // each turn goes with its picture
    ListView1->setRowTurn(under, keptTurn);
    ListView1->selectRow(under);
    DraggedRow = QPersistentModelIndex(ListView1->model()->index(under - 1, 0));
    // Near the top or the bottom of the screen, the neighbouring row comes into view.
    const int y = globalPosition.y();
    if (y < 305 && under >= 2)
        ListView1->makeVisible(under - 1);
    else if (y > 364 && under + 1 <= ListView1->rowCount())
        ListView1->makeVisible(under + 1);
}

void Form1::listMouseUp() {
    DragActive = false;
    m_listPointer = QCursor(Qt::ArrowCursor);
    showListPointer();
}

void Form1::removeSelectedRow() {
    if (isBusy() || ListView1->rowCount() == 0) return;
    ListHistory::Edit edit(*m_history, QStringLiteral("Remove"));
    const int selected = ListView1->selectedPosition();
    if (selected > 0) ListView1->removeRow(selected);  // no row selected: nothing to remove
}

bool Form1::listKeyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        showPreview();
        return true;
    }
    if (event->key() != Qt::Key_Delete) return false;
    removeSelectedRow();
    return true;
}

void Form1::listDblClick() { removeSelectedRow(); }

// Turns the selected rows' pictures a quarter turn or more clockwise (negative: anticlockwise),
// as they are shown and printed; one step to undo. Refused while the hourglass shows.
void Form1::rotateSelected(int quarterTurns) {
    if (isBusy()) return;
    ListHistory::Edit edit(*m_history, quarterTurns < 0 ? QStringLiteral("Rotate Left") : QStringLiteral("Rotate Right"));
    for (QTreeWidgetItem* item : ListView1->selectedItems()) {
        const int row = ListView1->positionOf(item);
        ListView1->setRowTurn(row, ListView1->rowTurn(row) + quarterTurns);
    }
}

void Form1::PushButton6_Click() {
    ErrorTrap trap(m_services.dialogs, QStringLiteral("in Jovemark2021/08/31.Form1.PushButton6_Click "));
    ListHistory::Edit edit(*m_history, QStringLiteral("Clear List"));
    trap.at(100, [&] {
        if (!isBusy()) ListView1->removeAllRows();
    });
}

// Moves the selected row one place up or down: a new row with its text goes in at the target,
// the old row goes out, and the new row is selected.
void Form1::moveSelectedRow(const QString& location, bool up) {
    ErrorTrap trap(m_services.dialogs, location);
    ListHistory::Edit edit(*m_history, up ? QStringLiteral("Move Up") : QStringLiteral("Move Down"));
    bool stop = false;
    trap.at(100, [&] { stop = isBusy(); });
    if (stop) return;
    trap.at(102, [&] { stop = ListView1->rowCount() == 0; });
    if (stop) return;
    int i = 0;
    trap.at(104, [&] { i = ListView1->selectedPosition(); });
    if (i == 0) return;  // rows but none selected: nothing to move
    bool atEnd = false;
    trap.at(106, [&] { atEnd = up ? i < 2 : i >= ListView1->rowCount(); });
    if (atEnd) {
        trap.at(118, [&] { ListView1->setFocus(); });
        return;
    }
    const int insertAt = up ? i - 1 : i + 2, oldRow = up ? i + 1 : i, newRow = up ? i - 1 : i + 1;
    trap.at(108, [&] {
        ListView1->insertRow(insertAt, ListView1->rowText(i));
        ListView1->setRowTurn(insertAt, ListView1->rowTurn(up ? i + 1 : i));  // the turn moves with the row
    });
    trap.at(110, [&] { ListView1->removeRow(oldRow); });
    trap.at(112, [&] { ListView1->selectRow(newRow); });
    trap.at(114, [&] { ListView1->makeVisible(newRow); });
    trap.at(116, [&] { ListView1->setFocus(); });
}

void Form1::PushButton4_Click() {
    moveSelectedRow(QStringLiteral("in Jovemark2021/08/31.Form1.PushButton4_Click "), true);
}

void Form1::PushButton5_Click() {
    moveSelectedRow(QStringLiteral("in Jovemark2021/08/31.Form1.PushButton5_Click "), false);
}

void Form1::PushButton1_Click() {
    ErrorTrap trap(m_services.dialogs, QStringLiteral("in Jovemark2021/08/31.Form1.PushButton1_Click "));
    ListHistory::Edit edit(*m_history, QStringLiteral("Add Files"));
    OpenFileRequest request;
    request.title = QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files");
    // JPEG first, as always; then every picture the decoder takes.
    QStringList patterns;
    for (const QString& extension : PictureDecoder::fileExtensions()) patterns << QStringLiteral("*.") + extension;
    const QString pictures = patterns.join(QLatin1Char(';'));
    request.filter = QStringLiteral("All JPEG (*.jpeg;*.jpg)|*.jpeg;*.jpg|All pictures (%1)|%1").arg(pictures);
    request.multiSelect = true;
    request.bufferSize = 30000;
    QString fileName;
    bool tooMany = false;
    trap.at(100, [&] {
        try {
            fileName = m_services.dialogs.openFile(request);
        } catch (const AppError& e) {
            if (e.code() != ErrorCode::FileNameBufferTooSmall) throw;
            tooMany = true;
        }
    });
    if (tooMany) {
        m_services.dialogs.message(QStringLiteral("You've selected too many files to add.") +
                                   QStringLiteral("\r\r") +
                                   QStringLiteral("Please try adding via the \"Add All\" button."));
        return;
    }
    if (fileName.isEmpty()) return;
    const QStringList parts = fileName.split(QChar(0));
    if (parts.size() == 1) {
        trap.at(102, [&] { ListView1->appendRow(parts.first()); });
        return;
    }
    const QString& folder = parts.first();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        trap.at(104, [&] {
            ListView1->appendRow(repairRootJoin(folder + pathSeparator() + parts[i]));
        });
    }
}

}  // namespace pictolio
