// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "pictures/picture.h"

namespace pictolio {

// A progress bar from 0 to 100 that keeps the exact value it was given and shows a text of
// the program's on the bar.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);
    void setExactValue(double value);
    double exactValue() const { return m_value; }
    void setBarText(const QString& text);
    const QString& barText() const { return m_text; }
    // The text shown on the bar: the program's, as it is (a file name is no format).
    QString text() const override { return m_text; }

signals:
    void exactValueChanged(double value);
    void barTextChanged(const QString& text);

private:
    double m_value = 0;
    QString m_text;
};

// A push button whose caption wraps onto more lines when the button is narrow.
class PushButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The hidden holder of the picture being printed.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    const Picture& picture() const { return m_picture; }
    void setPicture(Picture picture) { m_picture = std::move(picture); }
    Picture& pictureSlot() { return m_picture; }

private:
    Picture m_picture;
};

}  // namespace pictolio
