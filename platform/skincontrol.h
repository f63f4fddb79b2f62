// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>

namespace pictolio {

// The skin control. It is driven by member number, like the skin component it stands in for:
//   member 2 (file, name)   loads a skin file, a Qt style sheet;
//   member 3 (window handle) applies the loaded skin to that window;
//   property 1 (integer)    options; bit 0: skin the program's dialogs and message boxes too;
//   property 5 (Boolean)    the skin is enabled;
//   property 10 (Boolean)   the skin reaches every control of the window, not just the window.
class SkinControl {
public:
    QVariant invoke(int member, const QVariantList& args);
    QVariant property(int id) const;
    void setProperty(int id, const QVariant& value);

    const QString& styleSheet() const { return m_styleSheet; }

private:
    QString m_styleSheet;
    int m_options = 0;
    bool m_enabled = false;
    bool m_wholeWindow = false;
};

}  // namespace pictolio
