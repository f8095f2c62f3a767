// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// What the window tells beyond its visible texts: names for screen readers,
// the keyboard's path through the form, what each listed port is, and why a
// port did not open. None of it moves a pixel of the form.
#include "app/tiravo.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QLabel>
#include <QSlider>
#include <QToolTip>

#include "link/linktask.h"
#include "ui_tiravo.h"

namespace {
QString assistText(AssistText id)
{
    return inWindowLanguage(kAssistTexts[id]);
}

// Chinese text has no spaces to break at; a break after any wide character is fine.
bool breaksAfter(QChar c)
{
    return c.unicode() >= 0x2E80;
}

// Plain-text tooltips do not wrap by themselves, and the fixes quote long
// commands. Continuation lines are indented under their line.
QStringList wrapLine(const QString &line, const QFontMetrics &metrics, int width)
{
    int lead = 0;
    while (lead < line.size() && line.at(lead) == QLatin1Char(' '))
        ++lead;
    const QString indent(lead + 4, QLatin1Char(' '));
    QStringList out;
    QString rest = line;
    while (metrics.horizontalAdvance(rest) > width) {
        int fit = 0;
        while (fit < rest.size() && metrics.horizontalAdvance(rest.left(fit + 1)) <= width)
            ++fit;
        const int floor = out.isEmpty() ? lead : indent.size();
        int cut = fit;
        for (int i = fit; i > floor; --i) {
            if (rest.at(i) == QLatin1Char(' ') || breaksAfter(rest.at(i - 1))) {
                cut = i;
                break;
            }
        }
        if (cut <= floor)
            cut = qMax(fit, floor + 1);
        out.append(rest.left(cut));
        int next = cut;
        while (next < rest.size() && rest.at(next) == QLatin1Char(' '))
            ++next;
        if (next >= rest.size())
            return out;
        rest = indent + rest.mid(next);
    }
    out.append(rest);
    return out;
}

// A screen reader picks an item by selecting it in the drop-down list, which
// a combo box heeds only while the list is open. Selected with the list
// closed, it is taken as a click in the open list would be: the same index
// and the same signals, so nothing downstream can tell the two apart. The
// list's selection follows the current item, or the next pick would toggle
// off a stale selection instead of selecting.
void takePicksFromClosedList(QComboBox *box)
{
    QAbstractItemView *view = box->view();
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, box, [box, view] {
        const QModelIndexList picked = view->selectionModel()->selectedIndexes();
        if (view->isVisible() || !box->isEnabled() || picked.size() != 1)
            return;
        const int row = picked.first().row();
        if (row == box->currentIndex())
            return;
        box->setCurrentIndex(row);
        emit box->activated(row);
        emit box->textActivated(box->itemText(row));
    });
    QObject::connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), view, [box, view](int index) {
        if (view->isVisible())
            return;
        if (index < 0)
            view->selectionModel()->clearSelection();
        else
            view->selectionModel()->select(box->model()->index(index, box->modelColumn(), box->rootModelIndex()),
                                           QItemSelectionModel::ClearAndSelect);
    });
}
// On Linux Qt names a combo box after its current item and leaves what the
// box is for to a label relation; "1" or a device path tells a listener
// nothing, and the port selector has no caption on the form. The window's
// boxes carry their own names, with the current item as their value.
class NamedComboBox : public QAccessibleWidget
{
public:
    explicit NamedComboBox(QComboBox *box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && !box()->accessibleName().isEmpty())
            return box()->accessibleName();
        if (t == QAccessible::Name || t == QAccessible::Value)
            return box()->currentText();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        // The list is made on first use; a box whose list no one asked for is closed.
        const auto *list = box()->findChild<QAbstractItemView *>();
        s.expanded = list && list->isVisible();
        s.collapsed = !s.expanded;
        s.hasPopup = true;
        return s;
    }

    // The drop-down list, through which a screen reader reaches the items.
    int childCount() const override { return 1; }
    // Making a box's list costs the window's start a few milliseconds each,
    // so it waits for the first screen reader that looks inside the box.
    QAccessibleInterface *child(int index) const override
    {
        if (index != 0)
            return nullptr;
        if (!box()->property(kPicksTaken).toBool()) {
            box()->setProperty(kPicksTaken, true);
            takePicksFromClosedList(box());
        }
        return QAccessible::queryAccessibleInterface(box()->view());
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() && child->object() == box()->findChild<QAbstractItemView *>() ? 0 : -1;
    }

    QStringList actionNames() const override { return QStringList{showMenuAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString &action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (box()->view()->isVisible())
            box()->hidePopup();
        else
            box()->showPopup();
    }

private:
    static constexpr const char *kPicksTaken = "sbusPicksTaken";
    QComboBox *box() const { return static_cast<QComboBox *>(widget()); }
};

QAccessibleInterface *namedComboFactory(const QString &className, QObject *object)
{
    auto *box = qobject_cast<QComboBox *>(object);
    if (className != QLatin1String("QComboBox") || !box || box->isEditable() || !qobject_cast<Tiravo *>(box->window()))
        return nullptr;
    return new NamedComboBox(box);
}

} // namespace

// Interfaces are made, and kept, as soon as a widget is, and the last
// factory installed is asked first.
void Tiravo::installAccessibleCombos()
{
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(namedComboFactory);
    installed = true;
}

QString Tiravo::nameFromCaption(const QString &caption)
{
    QString name = caption.simplified();
    while (name.endsWith(QLatin1Char(':')) || name.endsWith(QChar(0xFF1A)))
        name.chop(1);
    return name;
}

QString Tiravo::wrapForTooltip(const QString &text) const
{
    // The tooltip's own frame and margins take a little of the window's width.
    const int width = this->width() - 24;
    const QFontMetrics metrics(QToolTip::font());
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n')))
        lines += wrapLine(line, metrics, width);
    return lines.join(QLatin1Char('\n'));
}

// Captions name the selector and data field of their row; the keyboard goes
// down the channel rows, then the port and the buttons, then the data fields
// row by row as they are read, not in the order the form created them.
void Tiravo::setUpAssistance()
{
    const auto combos = channelCombos();
    const auto sliders = positionSliders();
    const auto fields = testFields();
    QLabel *const channelCaptions[kFunctionCount] = {ui->tiltLabel, ui->headingLabel, ui->modeLabel, ui->videoLabel,
                                                     ui->zoomLabel};
    QLabel *const dataCaptions[kFunctionCount] = {ui->testTiltLabel, ui->testheadingLabel, ui->testModeLabel,
                                                  ui->testVideoLabel, ui->testZoomLabel};
    QList<QWidget *> order;
    for (int f = 0; f < kFunctionCount; ++f) {
        channelCaptions[f]->setBuddy(combos[f]);
        dataCaptions[f]->setBuddy(fields[f]);
        order << sliders[f] << combos[f];
    }
    ui->linkStatusLabel->setBuddy(ui->linkStatusLineEdit);

    order << ui->comComboBox << ui->startPushButton << ui->updatePushButton << ui->downloadPushButton
          << ui->programPushButton;
    for (QLineEdit *field : fields)
        order << field;
    order << ui->linkStatusLineEdit << ui->chRadioButton << ui->enRadioButton;
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

// Buttons are named by their captions, which change with the link state;
// everything else gets a name here, in the window's language.
void Tiravo::renewAccessibleNames()
{
    ui->comComboBox->setAccessibleName(assistText(AX_PORT_SELECTOR));
    // Never shown, so the form stays as drawn; a buddy label is what Qt
    // reports as a control's label.
    if (!portCaption) {
        portCaption = new QLabel(ui->comComboBox->parentWidget());
        portCaption->hide();
        portCaption->setBuddy(ui->comComboBox);
    }
    portCaption->setText(assistText(AX_PORT_SELECTOR));
    const auto combos = channelCombos();
    const auto sliders = positionSliders();
    const auto fields = testFields();
    for (int f = 0; f < kFunctionCount; ++f) {
        combos[f]->setAccessibleName(nameFromCaption(LangureChar[TXT_TILT_CHANNEL + f]));
        sliders[f]->setAccessibleName(assistText(AssistText(AX_TILT_POSITION + f)));
        fields[f]->setAccessibleName(nameFromCaption(LangureChar[TXT_TILT_DATA + f]));
    }
    ui->linkStatusLineEdit->setAccessibleName(nameFromCaption(LangureChar[TXT_STATUS]));
    // Each language is named in its own words, whatever the window speaks.
    ui->chRadioButton->setAccessibleName(QString::fromUtf8(kChineseTexts[TXT_CHINESE]));
    ui->enRadioButton->setAccessibleName(QStringLiteral("English"));
}

// The item text stays the port's name; the tooltip tells adapters apart.
void Tiravo::describePortItems()
{
    // The facts the list was last built with: asking the system again costs
    // a port enumeration.
    for (int i = 0; i < portFacts.size() && i < ui->comComboBox->count(); ++i) {
        const PortList::Facts &facts = portFacts[i];
        const QPair<AssistText, QString> rows[] = {
            {TIP_DEVICE, facts.device},           {TIP_DESCRIPTION, facts.description},
            {TIP_MANUFACTURER, facts.manufacturer}, {TIP_SERIAL_NUMBER, facts.serialNumber},
            {TIP_USB_ID, facts.usbId},            {TIP_STABLE_NAME, facts.stableName},
        };
        QStringList lines;
        for (const auto &row : rows) {
            if (!row.second.isEmpty())
                lines.append(labelled(assistText(row.first), row.second));
        }
        ui->comComboBox->setItemData(i, lines.join(QLatin1Char('\n')), Qt::ToolTipRole);
    }
}

// The tooltip speaks the window's language and is renewed with it. It tells
// why the port did not open; after a good open, what became of the last
// parameter file or live log. Standard error, read by whoever started us from
// a terminal, gets the open failure in English.
void Tiravo::showStatusTip()
{
    QString tip;
    if (portClosed() && awaitedAdapter) {
        tip = fileText(RECONNECT_WAITING)
                  .arg(choiceText(awaitedAdapter, QString()))
                  .arg(kReconnectSettleTicks * LinkTask::kTickMs / 1000.0);
    } else if (portClosed() && chosenPortGone()) {
        tip = fileText(PORT_GONE).arg(choiceText(chosenAdapter, chosenPort));
    } else if (openFailure) {
        tip = PortList::whyNotOpened(*openFailure, windowLanguage());
    } else if (fileNote.text != kFileTextCount) {
        const QString path = QDir::toNativeSeparators(fileNote.path);
        tip = fileNote.text == NOTE_LOGGED ? fileText(NOTE_LOGGED).arg(path, QString::number(fileNote.rows))
                                           : fileText(fileNote.text).arg(path);
    }
    if (channelsOutOfRange != 0) {
        QStringList functions;
        for (int f = 0; f < kFunctionCount; ++f) {
            if (channelsOutOfRange & (1u << f))
                functions << nameFromCaption(LangureChar[TXT_TILT_CHANNEL + f]);
        }
        const QString separator = LangureFlag == 1 ? QStringLiteral("、") : QStringLiteral(", ");
        const QString note = fileText(CHANNELS_OUT_OF_RANGE).arg(functions.join(separator));
        tip = tip.isEmpty() ? note : tip + QStringLiteral("\n\n") + note;
    }
    // The controller itself, as the history remembers it.
    if (const QString warning = files->contactWarning(windowLanguage()); !warning.isEmpty())
        tip = tip.isEmpty() ? warning : tip + QStringLiteral("\n\n") + warning;
    // Below whatever the port or a file gave: that is what the operator is at now.
    if (!languageNote.english.isEmpty()) {
        const QString note = LangureFlag == 1 ? languageNote.chinese : languageNote.english;
        tip = tip.isEmpty() ? note : tip + QStringLiteral("\n\n") + note;
    }
    ui->linkStatusLineEdit->setToolTip(tip.isEmpty() ? tip : wrapForTooltip(tip));
}
