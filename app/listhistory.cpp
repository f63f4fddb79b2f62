// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/listhistory.h"

#include "filelist/filelist.h"

namespace pictolio {

namespace {

// The list's rows: their texts and turns.
struct Rows {
    QStringList texts;
    QList<int> turns;
};

// One edit: the rows and the selected row before and after it.
class RowsChanged : public QUndoCommand {
public:
    RowsChanged(FileList* list, const QString& text, int series, Rows before, int selectedBefore, Rows after,
                int selectedAfter)
        : QUndoCommand(text),
          m_list(list),
          m_series(series),
          m_before(std::move(before)),
          m_after(std::move(after)),
          m_selectedBefore(selectedBefore),
          m_selectedAfter(selectedAfter) {}

    int id() const override { return m_series >= 0 ? 1 : -1; }
    bool mergeWith(const QUndoCommand* other) override {
        const auto* next = static_cast<const RowsChanged*>(other);
        if (next->m_series != m_series) return false;
        m_after = next->m_after;
        m_selectedAfter = next->m_selectedAfter;
        return true;
    }
    void undo() override { show(m_before, m_selectedBefore); }
    void redo() override {
        if (m_done) show(m_after, m_selectedAfter);
        m_done = true;  // the first time it has just happened
    }

private:
    void show(const Rows& rows, int selected) {
        m_list->removeAllRows();
        m_list->appendRows(rows.texts);
        for (int i = 0; i < rows.turns.size(); ++i)
            if (rows.turns[i] != 0) m_list->setRowTurn(i + 1, rows.turns[i]);
        if (selected > 0 && selected <= rows.texts.size()) {
            m_list->selectRow(selected);
            m_list->makeVisible(selected);
        }
    }

    FileList* m_list;
    int m_series;
    Rows m_before, m_after;
    int m_selectedBefore, m_selectedAfter;
    bool m_done = false;
};

}  // namespace

ListHistory::ListHistory(FileList* list) : m_list(list) { m_stack.setUndoLimit(limit); }

void ListHistory::begin(const QString& text, int series) {
    if (m_depth++ > 0) return;
    m_text = text;
    m_series = series;
    m_before = m_list->rowTexts();
    m_turnsBefore = m_list->rowTurns();
    m_selectedBefore = m_list->selectedPosition();
}

void ListHistory::end() {
    if (m_depth == 0 || --m_depth > 0) return;
    Rows after{m_list->rowTexts(), m_list->rowTurns()};
    if (after.texts == m_before && after.turns == m_turnsBefore) return;
    m_stack.push(new RowsChanged(m_list, m_text, m_series, {std::move(m_before), std::move(m_turnsBefore)},
                                 m_selectedBefore, std::move(after), m_list->selectedPosition()));
    m_before.clear();
    m_turnsBefore.clear();
}

}  // namespace pictolio
