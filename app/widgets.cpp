// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/widgets.h"

#include <QStyleOptionButton>
#include <QStylePainter>
#include <cmath>

namespace pictolio {

void PushButton::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    p.drawControl(QStyle::CE_PushButton, option);
    const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    p.drawItemText(area, Qt::AlignCenter | Qt::TextWordWrap, option.palette, isEnabled(), caption,
                   QPalette::ButtonText);
}

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
}

void ProgressBar::setExactValue(double value) {
    m_value = value;
    setValue(int(std::lround(std::clamp(value, 0.0, 100.0))));
    emit exactValueChanged(value);
}

void ProgressBar::setBarText(const QString& text) {
    m_text = text;
    setAccessibleDescription(text);
    update();
    emit barTextChanged(text);
}

}  // namespace pictolio
