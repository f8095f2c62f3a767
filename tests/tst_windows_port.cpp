// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The ports as Windows has them, under Wine: the names users know, a port listed only while the system has it, the
// list following WM_DEVICECHANGE, and what an open Windows refused says. Wine sends no WM_DEVICECHANGE for its COM
// ports: the notices here are made up and handed over as Windows would.
#include <QtTest>

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTemporaryDir>

#include <winsock2.h>
#include <windows.h>
#include <dbt.h>

#include "app/tiravo.h"
#include "port/devicenotices.h"
#include "port/portdiagnostics.h"
#include "port/portlist.h"

using PortList::DeviceNotices;

namespace {

// COM1 and COM2 are the test prefix's own; no prefix has this one.
const QString kAbsent = QStringLiteral("COM42");

DEV_BROADCAST_VOLUME volumeNotice()
{
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    return volume;
}

struct PortNotice {
    DEV_BROADCAST_PORT_W port{};
    wchar_t name[8] = L"COM7";
    PortNotice()
    {
        port.dbcp_size = sizeof port + sizeof name;
        port.dbcp_devicetype = DBT_DEVTYP_PORT;
    }
};

// Hands WM_DEVICECHANGE to every notice window of this process, as Windows hands a broadcast to every
// top-level window. Wine without a display makes none; the notice windows are then message-only ones.
int tellNoticeWindows(WPARAM event, const void *about)
{
    QSet<HWND> windows;
    for (const HWND parent : {HWND(nullptr), HWND_MESSAGE}) {
        for (HWND w = nullptr; (w = ::FindWindowExW(parent, w, DeviceNotices::kWindowClass, nullptr));) {
            // Only this process's: a suite running beside this one has its own.
            DWORD process = 0;
            ::GetWindowThreadProcessId(w, &process);
            if (process == ::GetCurrentProcessId())
                windows.insert(w);
        }
    }
    for (const HWND w : windows)
        ::SendMessageW(w, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(about));
    return windows.size();
}

bool readable(int descriptor)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(SOCKET(descriptor), &set);
    timeval now{0, 0};
    return ::select(0, &set, nullptr, nullptr, &now) == 1;
}

} // namespace

class TestWindowsPort : public QObject
{
    Q_OBJECT

private slots:
    // Shown, recorded and compared as users know them; opened in the form that reaches COM10 and up, and other
    // drivers' names, too.
    void namesUsersKnow_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("known");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1") << "COM1" << "COM1" << "\\\\.\\COM1";
        QTest::newRow("\\\\.\\COM1") << "\\\\.\\COM1" << "COM1" << "\\\\.\\COM1";
        QTest::newRow("com10") << "com10" << "COM10" << "\\\\.\\COM10";
        QTest::newRow("//./com12") << "//./com12" << "COM12" << "\\\\.\\COM12";
        QTest::newRow("another driver's") << "\\\\.\\CNCA0" << "CNCA0" << "\\\\.\\CNCA0";
        QTest::newRow("a path") << "C:\\ports\\x" << "C:\\ports\\x" << "C:\\ports\\x";
        QTest::newRow("a pipe") << "\\\\.\\pipe\\x" << "\\\\.\\pipe\\x" << "\\\\.\\pipe\\x";
    }
    void namesUsersKnow()
    {
        QFETCH(QString, given);
        QFETCH(QString, known);
        QFETCH(QString, device);
        QCOMPARE(PortList::knownName(given), known);
        QCOMPARE(PortList::systemLocation(given), known);
        QCOMPARE(PortList::absoluteName(given), known);
        QCOMPARE(PortList::deviceName(given), device);
    }

    // A port is listed while the system has it and not otherwise, whatever form it was registered in, and once: a
    // registered system port stays in its registered place.
    void listedWhileThere()
    {
        QVERIFY(QSerialPortInfo::availablePorts().size() >= 2);
        for (const QString &name : {QStringLiteral("COM1"), QStringLiteral("com1"), QStringLiteral("\\\\.\\COM1")})
            QVERIFY2(PortList::isPresent(name), qPrintable(name));
        QVERIFY(!PortList::isPresent(kAbsent));

        const QString second = PortList::absoluteName(QStringLiteral("\\\\.\\com2"));
        for (const QString &name : {kAbsent, second})
            PortList::registerPort(name);
        const auto unregister = qScopeGuard([&] {
            for (const QString &name : {kAbsent, second})
                PortList::unregisterPort(name);
        });
        const QStringList listed = PortList::availablePortNames();
        QCOMPARE(listed.value(0), QStringLiteral("COM2"));
        QCOMPARE(listed.count(QStringLiteral("COM2")), 1);
        QVERIFY(listed.contains(QStringLiteral("COM1")) && !listed.contains(kAbsent));
    }

    // Which WM_DEVICECHANGE can mean a serial port came or went.
    void noticesAboutPorts()
    {
        PortNotice port;
        DEV_BROADCAST_DEVICEINTERFACE_W comInterface{};
        comInterface.dbcc_size = sizeof comInterface;
        comInterface.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        comInterface.dbcc_classguid = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
        DEV_BROADCAST_DEVICEINTERFACE_W hid = comInterface;
        hid.dbcc_classguid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
        const DEV_BROADCAST_VOLUME volume = volumeNotice();
        const auto about = [](WPARAM event, const void *p) {
            return DeviceNotices::aboutPorts(event, reinterpret_cast<qintptr>(p));
        };
        QVERIFY(about(DBT_DEVICEARRIVAL, &port));
        QVERIFY(about(DBT_DEVICEREMOVECOMPLETE, &port));
        QVERIFY(about(DBT_DEVICEARRIVAL, &comInterface));
        QVERIFY(about(DBT_DEVNODES_CHANGED, nullptr));
        QVERIFY(!about(DBT_DEVICEARRIVAL, &hid));
        QVERIFY(!about(DBT_DEVICEARRIVAL, &volume));
        QVERIFY(!about(DBT_DEVICEQUERYREMOVE, &port));
        QVERIFY(!about(DBT_DEVICEARRIVAL, nullptr));
    }

    // The system's ports are listed on the call after a notice, once, and not again while none comes; the notice
    // also wakes whoever waits on the descriptor, until it is taken.
    void scanFollowsNotices()
    {
        int enumerations = 0;
        PortList::SystemPortScan scan(PortList::SystemPortScan::defaultDeviceDir(), [&] {
            ++enumerations;
            return QStringList{QStringLiteral("COM3")};
        });
        const auto over = [&](int calls) {
            const int before = enumerations;
            for (int i = 0; i < calls; ++i)
                scan.names();
            return enumerations - before;
        };
        QCOMPARE(over(1), 1);
        QCOMPARE(over(5), 0);
        const int descriptor = scan.noticeDescriptor();
        QVERIFY(!readable(descriptor));

        PortNotice arrival;
        QCOMPARE(tellNoticeWindows(DBT_DEVICEARRIVAL, &arrival), 1);
        QVERIFY(readable(descriptor));
        QCOMPARE(over(1), 1);
        QVERIFY(!readable(descriptor));
        QCOMPARE(over(5), 0);

        const DEV_BROADCAST_VOLUME volume = volumeNotice();
        tellNoticeWindows(DBT_DEVICEARRIVAL, &volume);
        QVERIFY(!readable(descriptor));
        QCOMPARE(over(1), 0);
        tellNoticeWindows(DBT_DEVNODES_CHANGED, nullptr);
        QCOMPARE(over(1), 1);
    }

    // The disconnected window stops its timer once a tick only repeats the last one, and a port's arrival brings
    // the ticks back.
    void restingWindowWakesOnNotice()
    {
        Tiravo w;
        auto *timer = w.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        for (int i = 0; i < 46; ++i)
            QMetaObject::invokeMethod(&w, "SYS_QTimerUpDate");
        QCoreApplication::processEvents();
        QVERIFY(!timer->isActive());

        PortNotice arrival;
        QVERIFY(tellNoticeWindows(DBT_DEVICEARRIVAL, &arrival) >= 1);
        // The socket's notice arrives through the event loop; the waker only makes each pass look again.
        QTimer waker;
        waker.start(5);
        for (QDeadlineTimer deadline(5000); !timer->isActive() && !deadline.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 50);
    }

    // What Windows' refusal of an open is taken for (the words for each are the words suite's). A port that is
    // gone is really asked for; Wine lets a second program open a COM port, so a held one is a file another handle
    // holds without sharing, which Wine refuses as Windows does.
    void refusedOpens()
    {
        QSerialPort port;
        QString error;
        QVERIFY(!PortList::open(port, kAbsent.toLower(), &error));
        QCOMPARE(PortList::whyNotOpened(kAbsent, error).section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("there is no port COM42 (adapter unplugged?)"));

        QTemporaryDir dir;
        const QString held = QDir::toNativeSeparators(dir.filePath(QStringLiteral("held")));
        const HANDLE holder = ::CreateFileW(reinterpret_cast<const wchar_t *>(held.utf16()), GENERIC_READ | GENERIC_WRITE,
                                            0, nullptr, CREATE_NEW, 0, nullptr);
        QVERIFY(holder != INVALID_HANDLE_VALUE);
        const bool opened = PortList::open(port, held, &error);
        ::CloseHandle(holder);
        QVERIFY(!opened);
        QCOMPARE(PortList::examineFailedOpen(held, error).access, PortDiagnostics::Access::Busy);

        // Anything else keeps Windows' own words and the general advice.
        const QString other = PortList::whyNotOpened(QStringLiteral("COM1"), qt_error_string(ERROR_GEN_FAILURE));
        QVERIFY2(other.startsWith(QStringLiteral("cannot open COM1: ") + qt_error_string(ERROR_GEN_FAILURE)),
                 qPrintable(other));
        QVERIFY2(other.contains(QStringLiteral("Device Manager")), qPrintable(other));
    }
};

QTEST_MAIN(TestWindowsPort)
#include "tst_windows_port.moc"
