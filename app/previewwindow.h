// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QThreadPool>
#include <QWidget>
#include <functional>

namespace pictolio {

class FileList;

// "Rotate Left" and "Rotate Right" (Ctrl+L, Ctrl+R) as actions of the window, which shows them in
// its context menu; turn gets -1 or 1 quarter turns clockwise.
void addRotateActions(QWidget* window, const std::function<void(int turns)>& turn);

// A large view of the list's selected picture, upright, its file name in the title. It follows
// the list's selection; the arrow keys and Page Up/Down move through the list, Escape or Space
// close it. It shows the picture turned as its row says; Rotate Left and Rotate Right (Ctrl+L,
// Ctrl+R, and its context menu) ask for the selected row to be turned. Pictures are decoded off
// the window's thread.
class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    PreviewWindow(FileList* list, QWidget* parent);
    ~PreviewWindow() override;
    // The picture shown, "" while none.
    const QString& shownPath() const { return m_shown; }

signals:
    void shown(const QString& path);
    // Rotate Left (-1) or Rotate Right (1) was asked for.
    void turnAsked(int quarterTurns);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showSelected();
    void showImage();

    FileList* m_list;
    QLabel* m_label;
    QThreadPool m_pool;
    QString m_wanted, m_shown;
    QImage m_image;  // as decoded, upright
    int m_turn = 0;  // quarter turns clockwise it is shown turned by
};

}  // namespace pictolio
