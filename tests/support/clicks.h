// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QtTest>

// A radio button takes clicks on its circle and caption only, and its caption is set in the platform's default font
// (12 pt on Qt 5's offscreen platform, 9 pt on Qt 6's and on X11), which may leave the middle of the button empty
// space. So click the caption, as the operator does.
inline void clickCaption(QRadioButton *radio)
{
    QStyleOptionButton option;
    option.initFrom(radio);
    option.text = radio->text();
    const QRect hit = radio->style()->subElementRect(QStyle::SE_RadioButtonClickRect, &option, radio);
    QTest::mouseClick(radio, Qt::LeftButton, {}, hit.center());
}

inline void clickCaption(QWidget &window, const char *name)
{
    clickCaption(window.findChild<QRadioButton *>(QString::fromLatin1(name)));
}

// Tooltips are wrapped to the window's width, at spaces or anywhere in a
// long path; what they say is compared without the breaks.
inline QString unwrapped(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
}
