// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QThreadPool>
#include <QWidget>

namespace pictolio {

class FileList;

// A large view of the list's selected picture, upright, its file name in the title. It follows
// the list's selection; the arrow keys and Page Up/Down move through the list, Escape or Space
// close it. Pictures are decoded off the window's thread.
class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    PreviewWindow(FileList* list, QWidget* parent);
    ~PreviewWindow() override;
    // The picture shown, "" while none.
    const QString& shownPath() const { return m_shown; }

signals:
    void shown(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showSelected();

    FileList* m_list;
    QLabel* m_label;
    QThreadPool m_pool;
    QString m_wanted, m_shown;
    QImage m_image;
};

}  // namespace pictolio
