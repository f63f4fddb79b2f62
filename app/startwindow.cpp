// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startwindow.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/form1.h"

namespace pictolio {

void showMainWindow(Form1& form) {
    form.Form_Load();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        form.move(screen->availableGeometry().center() - form.rect().center());
    form.show();
}

}  // namespace pictolio
