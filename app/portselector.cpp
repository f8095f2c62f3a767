// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#include "app/portselector.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolTip>

namespace PortSelector {

namespace {

// QComboBox fills its style option in a member that Qt 5 keeps protected;
// a pointer to it, taken through a class derived from it, is callable on
// any combo box.
struct StyleOptionAccess : QComboBox {
    static constexpr auto fill = &StyleOptionAccess::initStyleOption;
};

// Left to itself, the closed box clips a long name at its end, the very
// part that tells adapters apart.
class StartElider : public QObject
{
public:
    explicit StartElider(QComboBox &box)
        : QObject(&box)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QComboBox *>(watched);
        // An editable box shows its text in a line edit of its own.
        if (!box || box->isEditable())
            return false;
        if (event->type() == QEvent::Paint) {
            // Not before the window is up: the list comes into being with
            // its first use, and the window's setting up must not make it.
            if (!listElides) {
                box->view()->setTextElideMode(Qt::ElideLeft);
                listElides = true;
            }
            paint(*box);
            return true;
        }
        if (event->type() == QEvent::ToolTip && box->toolTip().isEmpty()) {
            const QString tip = tooltip(*box);
            if (tip.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), tip, box);
            return true;
        }
        return false;
    }

private:
    bool listElides = false;

    // As QComboBox::paintEvent paints, with the text fitted to the field.
    static void paint(QComboBox &box)
    {
        QStylePainter painter(&box);
        painter.setPen(box.palette().color(QPalette::Text));
        QStyleOptionComboBox option;
        (box.*StyleOptionAccess::fill)(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        if (box.currentIndex() < 0 && !box.placeholderText().isEmpty()) {
            option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
            option.currentText = box.placeholderText();
        } else {
            option.currentText = fitted(box, option);
        }
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }

    static QString fitted(const QComboBox &box, const QStyleOptionComboBox &option)
    {
        // The label is drawn a pixel in from either side of the field, after the icon.
        const QRect field =
            box.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &box);
        int room = field.width() - 2;
        if (!option.currentIcon.isNull())
            room -= option.iconSize.width() + 4;
        return box.fontMetrics().elidedText(shownName(option.currentText), Qt::ElideLeft, room);
    }

    static QString tooltip(const QComboBox &box)
    {
        const QString tip = box.currentData(Qt::ToolTipRole).toString();
        const QString name = box.currentText();
        QStyleOptionComboBox option;
        (box.*StyleOptionAccess::fill)(&option);
        if (name.isEmpty() || fitted(box, option) == name || tip.contains(name))
            return tip;
        return tip.isEmpty() ? name : name + QLatin1Char('\n') + tip;
    }
};

} // namespace

void install(QComboBox &box)
{
    // The list elides where it is no wider than the box; a popup list
    // widens to the longest name the screen has room for.
    box.installEventFilter(new StartElider(box));
}

QString shownName(const QString &name)
{
    const QFileInfo info(name);
    const QString folder = info.path();
    if (!folder.endsWith(QLatin1String("/serial/by-id")) && !folder.endsWith(QLatin1String("/serial/by-path")))
        return name;
    QString shown = name;
    for (const QLatin1String constant : {QLatin1String("-port0"), QLatin1String("-if00")}) {
        // A name that is nothing but the constant part stays whole.
        if (shown.endsWith(constant) && shown.size() - constant.size() > folder.size() + 1)
            shown.chop(constant.size());
    }
    return shown;
}

} // namespace PortSelector
