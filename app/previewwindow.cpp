// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/previewwindow.h"

#include <QAction>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTransform>
#include <QVBoxLayout>
#include <tuple>

#include "filelist/filelist.h"
#include "pictures/thumbnails.h"

namespace pictolio {

PreviewWindow::PreviewWindow(FileList* list, QWidget* parent) : QWidget(parent, Qt::Window), m_list(list) {
    setObjectName(QStringLiteral("PreviewWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(900, 700);
    m_label = new QLabel(this);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setMinimumSize(1, 1);
    m_label->setStyleSheet(QStringLiteral("background: #202020; color: #d0d0d0;"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    m_pool.setMaxThreadCount(1);
    connect(list, &QTreeWidget::currentItemChanged, this, &PreviewWindow::showSelected);
    // A row turned while it shows.
    connect(list->model(), &QAbstractItemModel::dataChanged, this, [this] {
        const int row = m_list->selectedPosition();
        if (row > 0 && m_list->rowText(row) == m_shown && m_list->rowTurn(row) != m_turn) showImage();
    });
    addRotateActions(this, [this](int turns) { emit turnAsked(turns); });
    setContextMenuPolicy(Qt::ActionsContextMenu);
    showSelected();
}

PreviewWindow::~PreviewWindow() {
    m_wanted.clear();
    m_pool.clear();
    m_pool.waitForDone();
}

void PreviewWindow::showSelected() {
    const int row = m_list->selectedPosition();
    const QString path = row > 0 ? m_list->rowText(row) : QString();
    setWindowTitle(path.isEmpty() ? QStringLiteral("Pictolio") : QFileInfo(path).fileName() + QStringLiteral(" - Pictolio"));
    m_wanted = path;
    if (path.isEmpty()) return;
    m_label->setText(tr("Loading %1 ...").arg(QFileInfo(path).fileName()));
    m_pool.clear();  // a picture passed over quickly is not decoded at all
    const QSize box(2048, 2048);
    m_pool.start([this, path, box] {
        const QImage image = readShown(path, box);
        QMetaObject::invokeMethod(this, [this, path, image] {
            if (path != m_wanted) return;
            m_image = image;
            m_shown = path;
            if (image.isNull())
                m_label->setText(tr("%1 is not a valid picture").arg(QFileInfo(path).fileName()));
            else
                showImage();
            emit shown(path);
        }, Qt::QueuedConnection);
    });
}

// The picture, turned as its row says, fitted to the window.
void PreviewWindow::showImage() {
    if (m_image.isNull()) return;
    const int row = m_list->selectedPosition();
    if (row > 0 && m_list->rowText(row) == m_shown) m_turn = m_list->rowTurn(row);
    const QImage turned = m_turn ? m_image.transformed(QTransform().rotate(90 * m_turn)) : m_image;
    m_label->setPixmap(
        QPixmap::fromImage(turned).scaled(m_label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void PreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    showImage();
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    const int row = m_list->selectedPosition(), count = m_list->rowCount();
    int to = row;
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Space:
            close();
            return;
        case Qt::Key_Left:
        case Qt::Key_Up: to = row - 1; break;
        case Qt::Key_Right:
        case Qt::Key_Down: to = row + 1; break;
        case Qt::Key_PageUp: to = row - 10; break;
        case Qt::Key_PageDown: to = row + 10; break;
        case Qt::Key_Home: to = 1; break;
        case Qt::Key_End: to = count; break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    to = qBound(1, to, count);
    if (count > 0 && to != row) {
        m_list->selectRow(to);
        m_list->makeVisible(to);
    }
}

void addRotateActions(QWidget* window, const std::function<void(int turns)>& turn) {
    for (const auto& [name, text, key, turns] :
         {std::tuple{"RotateLeft", "Rotate Left", Qt::Key_L, -1}, std::tuple{"RotateRight", "Rotate Right", Qt::Key_R, 1}}) {
        auto* rotate = new QAction(QString::fromLatin1(text), window);
        rotate->setObjectName(QString::fromLatin1(name));
        rotate->setShortcut(QKeySequence(Qt::CTRL | key));
        rotate->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(rotate, &QAction::triggered, window, [turn, turns = turns] { turn(turns); });
        window->addAction(rotate);
    }
}

}  // namespace pictolio
