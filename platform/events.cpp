// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/events.h"

#include <QCoreApplication>

namespace pictolio {

void doEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

}  // namespace pictolio
