// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The form as uic builds it, checked against a reviewed snapshot in
// data/form-tree.txt: every object in creation (and stacking) order, with each
// property that differs from a fresh widget of the same class. Editing the form
// in Designer changes the snapshot, and the change must then be looked at.
#include <QtTest>

#include <QBoxLayout>
#include <QComboBox>
#include <QIcon>
#include <QPixmap>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <functional>
#include <memory>

#include "ui_tiravo.h"

namespace {

// Placement inside the panels depends on font metrics; only the form's own
// direct children have fixed geometry.
const QSet<QByteArray> kLayoutDependent = {
    "geometry", "pos", "size", "rect", "frameGeometry", "frameSize", "normalGeometry", "childrenRect",
    "childrenRegion", "sizeHint", "minimumSizeHint", "x", "y", "width", "height", "minimumWidth",
    "minimumHeight", "maximumWidth", "maximumHeight", "visible", "font", "palette", "locale",
    "currentText", "currentIndex", "count", "objectName", "windowModified", "isActiveWindow", "frameRect"};

std::unique_ptr<QObject> freshOf(const QObject *o)
{
    static const QMap<QByteArray, std::function<QObject *()>> make = {
        {"QWidget", [] { return new QWidget; }},         {"QLabel", [] { return new QLabel; }},
        {"QFrame", [] { return new QFrame; }},           {"QSlider", [] { return new QSlider; }},
        {"QComboBox", [] { return new QComboBox; }},     {"QPushButton", [] { return new QPushButton; }},
        {"QRadioButton", [] { return new QRadioButton; }}, {"QLineEdit", [] { return new QLineEdit; }},
        {"QHBoxLayout", [] { return new QHBoxLayout; }}, {"QVBoxLayout", [] { return new QVBoxLayout; }}};
    const auto it = make.find(o->metaObject()->className());
    return std::unique_ptr<QObject>(it == make.end() ? nullptr : (*it)());
}

QString rectText(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QString show(const QMetaProperty &p, const QVariant &v)
{
    if (p.isEnumType()) {
        const QMetaEnum e = p.enumerator();
        return e.isFlag() ? QString::fromLatin1(e.valueToKeys(v.toInt())) : QString::fromLatin1(e.valueToKey(v.toInt()));
    }
    switch (v.userType()) {
    case QMetaType::QSize: return QStringLiteral("%1x%2").arg(v.toSize().width()).arg(v.toSize().height());
    case QMetaType::QRect: return rectText(v.toRect());
    case QMetaType::QSizePolicy: {
        const QSizePolicy s = v.value<QSizePolicy>();
        const QMetaEnum policy = QMetaEnum::fromType<QSizePolicy::Policy>();
        const bool defaultType = s.controlType() == QSizePolicy::DefaultType;
        return QStringLiteral("%1/%2,stretch:%3/%4,hfw:%5%6")
            .arg(QLatin1String(policy.valueToKey(s.horizontalPolicy())), QLatin1String(policy.valueToKey(s.verticalPolicy())))
            .arg(s.horizontalStretch()).arg(s.verticalStretch()).arg(s.hasHeightForWidth())
            .arg(defaultType ? QString() : QStringLiteral(",type:%1").arg(int(s.controlType())));
    }
    case QMetaType::Int:
    case QMetaType::Bool:
        return v.toString();
    default: return v.canConvert<QString>() ? QLatin1Char('"') + v.toString() + QLatin1Char('"') : QString();
    }
}

// Only the font attributes a widget sets itself; the rest comes from the platform.
QString ownFont(const QWidget *w)
{
    if (!w->testAttribute(Qt::WA_SetFont))
        return {};
    const QFont f = w->font();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const uint own = f.resolveMask();
#else
    const uint own = f.resolve();
#endif
    QStringList parts;
    // Qt 6's uic sets a list of families where Qt 5's set one family.
    if (own & (QFont::FamilyResolved | QFont::FamiliesResolved))
        parts << f.family();
    if (own & QFont::SizeResolved)
        parts << QStringLiteral("%1pt").arg(f.pointSize());
    if (own & QFont::StyleStrategyResolved)
        parts << (f.styleStrategy() == QFont::NoAntialias ? QStringLiteral("NoAntialias")
                                                          : QStringLiteral("strategy %1").arg(int(f.styleStrategy())));
    return QStringLiteral(" font=") + parts.join(QLatin1Char('/'));
}

// Qt 6 no longer compares icons and pixmaps held in a QVariant: any two
// count as different. Two are alike when they are the same image, or both unset.
bool differs(const QVariant &a, const QVariant &b)
{
    if (a.userType() != b.userType())
        return true;
    if (a.userType() == QMetaType::QIcon)
        return a.value<QIcon>().cacheKey() != b.value<QIcon>().cacheKey();
    if (a.userType() == QMetaType::QPixmap)
        return a.value<QPixmap>().cacheKey() != b.value<QPixmap>().cacheKey();
    return a != b;
}

void dump(const QObject *o, const QObject *form, int depth, QStringList &out)
{
    QString line = QString(depth * 2, QLatin1Char(' ')) + QString::fromLatin1(o->metaObject()->className())
                   + QLatin1Char(' ') + o->objectName();
    if (auto fresh = freshOf(o)) {
        const QMetaObject *mo = o->metaObject();
        for (int i = 0; i < mo->propertyCount(); ++i) {
            const QMetaProperty p = mo->property(i);
            if (kLayoutDependent.contains(p.name()))
                continue;
            const QVariant mine = p.read(o);
            if (differs(mine, p.read(fresh.get())))
                line += QStringLiteral(" %1=%2").arg(QLatin1String(p.name()), show(p, mine));
        }
    }
    if (auto *w = qobject_cast<const QWidget *>(o)) {
        if (w == form || w->parent() == form)
            line += QStringLiteral(" at=") + rectText(w->geometry());
        line += ownFont(w);
    }
    if (auto *combo = qobject_cast<const QComboBox *>(o)) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        line += QStringLiteral(" items=[%1] current=%2").arg(items.join(QLatin1Char(' '))).arg(combo->currentIndex());
    }
    if (auto *layout = qobject_cast<const QLayout *>(o)) {
        QStringList items;
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem *item = layout->itemAt(i);
            items << (item->widget() ? item->widget()->objectName() : item->layout()->objectName());
        }
        const QMargins m = layout->contentsMargins();
        line += QStringLiteral(" margins=%1,%2,%3,%4 items=[%5]").arg(m.left()).arg(m.top()).arg(m.right())
                    .arg(m.bottom()).arg(items.join(QLatin1Char(' ')));
    }
    out << line;
    for (const QObject *c : o->children())
        if (c->isWidgetType() ? !static_cast<const QWidget *>(c)->isWindow() : c->inherits("QLayout"))
            dump(c, form, depth + 1, out);
}

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void treeMatchesSnapshot()
    {
        QWidget form;
        Ui_Tiravo ui;
        ui.setupUi(&form);
        QStringList actual;
        dump(&form, &form, 0, actual);

        const QString expectedPath = QStringLiteral(SBUS_TEST_DATA "/form-tree.txt");
        const QString actualPath = QDir::current().absoluteFilePath(QStringLiteral("form-tree.actual.txt"));
        QFile out(actualPath);
        if (out.open(QIODevice::WriteOnly | QIODevice::Text))
            out.write(actual.join(QLatin1Char('\n')).toUtf8() + '\n');
        const QStringList expected = readLines(expectedPath);
        for (int i = 0; i < qMax(actual.size(), expected.size()); ++i)
            QVERIFY2(actual.value(i) == expected.value(i),
                     qPrintable(QStringLiteral("line %1\n   got: %2\n  want: %3\n(whole tree in %4)")
                                    .arg(i + 1).arg(actual.value(i), expected.value(i), actualPath)));
    }

    // At the initial size nothing sticks out past x 721 / y 357, and with the
    // fonts this machine substitutes no control is pushed out of its panel.
    void everythingVisibleAtInitialSize()
    {
        QWidget w;
        Ui_Tiravo ui;
        ui.setupUi(&w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QRect bounds;
        for (QWidget *c : w.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            bounds |= c->geometry();
        QCOMPARE(bounds.bottomRight(), QPoint(721, 357));
        for (QWidget *c : w.findChildren<QWidget *>())
            if (!c->isWindow() && !c->objectName().isEmpty()) // skip popups and Qt's inner parts
                QVERIFY2(c->parentWidget()->rect().contains(c->geometry()), qPrintable(c->objectName()));
    }
};

QTEST_MAIN(TestForm)
#include "tst_form.moc"
