// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <QUndoStack>

namespace pictolio {

class FileList;

// The list's edits, undone and redone with Qt's undo stack. Each edit is recorded as the rows
// before and after it (the texts are shared with the list, so a step costs a pointer a row), each
// with its turn.
class ListHistory {
public:
    explicit ListHistory(FileList* list);

    // An edit of the list from begin() to the matching end(); nested edits make one step, and an
    // edit that changed nothing makes none. Edits with the same series number (the moves of one
    // drag) that follow each other make one step.
    void begin(const QString& text, int series = -1);
    void end();

    // An edit for as long as it lives.
    class Edit {
    public:
        Edit(ListHistory& history, const QString& text, int series = -1) : m_history(history) {
            m_history.begin(text, series);
        }
        ~Edit() { m_history.end(); }
        Edit(const Edit&) = delete;
        Edit& operator=(const Edit&) = delete;

    private:
        ListHistory& m_history;
    };

    QUndoStack& stack() { return m_stack; }
    // How many steps are kept.
    static constexpr int limit = 200;

private:
    FileList* m_list;
    QUndoStack m_stack;
    int m_depth = 0;
    QString m_text;
    int m_series = -1;
    QStringList m_before;
    QList<int> m_turnsBefore;
    int m_selectedBefore = 0;
};

}  // namespace pictolio
