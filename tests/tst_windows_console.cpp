// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// What only Windows has: console control events, code page and cursor sequences, a window program's text, a pipe
// whose reader has gone, shortcuts, pipes and devices by name. A scene that needs a process or a console of its own
// is this program again (--child SCENE), in a pseudo console whose screen comes back as text.
#include <QtTest>

#include <QTemporaryDir>
#include <QWidget>

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include "app/closeguard.h"
#include "cli/output.h"
#include "formats/backupfile.h"
#include "os/safefile.h"
#include "os/stopsignals.h"
#include "support/files.h"
#include "version.h"

namespace {

constexpr DWORD kWaitMs = 30000;
const ParamBlock kBlock = {60, 90, 100, 33, 5, 120, 30, 150, 45, 3, 6, 200, 7, 2, 80, 35, 175, 0};

// --- the scenes, in a process of their own ----------------------------------

bool cursorSequencesOn()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

// Ctrl+C and the window: the console's handler thread wakes the event loop.
int windowScene(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.show();
    closeOnStopSignals(window);
    QTimer::singleShot(0, [] { ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0); });
    QTimer::singleShot(int(kWaitMs), [] { QCoreApplication::exit(99); });
    return app.exec() == 0 ? 128 + StopSignals::pending() : 99;
}

// A console event as the system hands it over, on a thread of its own, while the program's main thread finishes
// what it was doing: 128 + the signal it counts as, or 98 when the handler let the process go first.
int eventScene(DWORD event)
{
    std::atomic<int> step{0};
    int mainEnded = 0, handlerReturned = 0;
    const HANDLE installed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread mainThread([&] {
        StopSignals::install();
        ::SetEvent(installed);
        ::WaitForSingleObject(StopSignals::wakeEvent(), kWaitMs);
        mainEnded = ++step;
    });
    ::WaitForSingleObject(installed, kWaitMs);
    std::thread handler([&] {
        StopSignals::consoleEvent(event);
        handlerReturned = ++step;
    });
    mainThread.join();
    handler.join();
    const bool mustHold = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    return mustHold && handlerReturned < mainEnded ? 98 : 128 + StopSignals::pending();
}

int onConsole(const char *scene);

int child(int argc, char *argv[])
{
    // The suite runs with Ctrl+C ignored, as its launcher asked; a console starts its programs without.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    const QByteArray scene = argv[2];
    if (scene == "marker") {
        // The last thing on the screen: everything before it has been shown.
        const HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD written;
        return ::WriteFile(console, argv[3], DWORD(qstrlen(argv[3])), &written, nullptr) ? 0 : 1;
    }
    if (scene == "on-console")
        return onConsole(argv[3]);
    if (scene == "output") {
        Output::prepareConsole();
        Output::print(QStringLiteral("prepared: caf\u00e9 \u4e2d\u6587"));
        Output::print(QStringLiteral("redraws %1 sequences %2").arg(Output::redrawsInPlace()).arg(cursorSequencesOn()));
        return 0;
    }
    if (scene == "after") {
        // The next program in the same console, which sets nothing: its bytes read in the console's code page.
        const QByteArray line = "after: caf\xc3\xa9 sequences " + QByteArray::number(cursorSequencesOn()) + "\n";
        DWORD written;
        return ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.constData(), DWORD(line.size()), &written, nullptr) ? 0 : 1;
    }
    if (scene == "ctrl-c") {
        StopSignals::install();
        for (int i = 0; i < 2; ++i) {
            ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
            if (::WaitForSingleObject(StopSignals::wakeEvent(), kWaitMs) != WAIT_OBJECT_0)
                return 99;
        }
        return 128 + StopSignals::pending();
    }
    if (scene == "window")
        return windowScene(argc, argv);
    if (scene == "event")
        return eventScene(DWORD(std::atoi(argv[3])));
    if (scene == "closed-pipe") {
        Output::print(QStringLiteral("nobody reads this"));
        Output::finishStandardOutput();
        std::fprintf(stderr, "%s\n", Output::outputFailure().toUtf8().constData());
        return 0;
    }
    return 97;
}

// --- the harness --------------------------------------------------------------

using CreatePseudoConsoleFn = HRESULT(WINAPI *)(COORD, HANDLE, HANDLE, DWORD, void **);
using ClosePseudoConsoleFn = void(WINAPI *)(void *);
constexpr DWORD_PTR kPseudoConsoleAttribute = 0x00020016; // PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE

// Scenes start scenes too, before any application object is there to ask.
QString self()
{
    wchar_t name[MAX_PATH];
    return QString::fromWCharArray(name, int(::GetModuleFileNameW(nullptr, name, MAX_PATH)));
}

// The programs of the build, beside which tests/<suite>/ lies.
QString program(const char *name)
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../../%1").arg(QLatin1String(name)));
}

// This program again, playing a scene.
QStringList scene(const char *name, const QString &argument = {})
{
    QStringList command{self(), QStringLiteral("--child"), QLatin1String(name)};
    if (!argument.isEmpty())
        command << argument;
    return command;
}

QString quoted(const QStringList &words)
{
    QStringList out;
    for (const QString &w : words)
        out << QLatin1Char('"') + QDir::toNativeSeparators(w) + QLatin1Char('"');
    return out.join(QLatin1Char(' '));
}

// Starts a program with these standard handles (null ones included), in the pseudo console if one is given; its
// exit code, or -1.
int run(const QStringList &command, HANDLE out = nullptr, HANDLE err = nullptr, void *console = nullptr)
{
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    QByteArray storage(int(size), 0);
    auto *attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    ::InitializeProcThreadAttributeList(attributes, 1, 0, &size);
    if (console)
        ::UpdateProcThreadAttribute(attributes, 0, kPseudoConsoleAttribute, console, sizeof console, nullptr, nullptr);
    STARTUPINFOEXW start{};
    start.StartupInfo.cb = sizeof start;
    start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    start.StartupInfo.hStdOutput = out;
    start.StartupInfo.hStdError = err;
    start.lpAttributeList = attributes;
    std::wstring line = quoted(command).toStdWString();
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT,
                                          nullptr, nullptr, &start.StartupInfo, &process);
    ::DeleteProcThreadAttributeList(attributes);
    if (!started)
        return -1;
    DWORD code = DWORD(-1);
    if (::WaitForSingleObject(process.hProcess, kWaitMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process.hProcess, &code);
    else
        ::TerminateProcess(process.hProcess, code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return int(code);
}

// What Windows gives a console program started in a console, and Wine's pseudo console does not: standard output
// and error on the console.
int onConsole(const char *scene)
{
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inherited, OPEN_EXISTING, 0, nullptr);
    return run(::scene(scene), console, console);
}

struct Screen {
    QList<int> codes;
    QString text; // what the console showed, without its control sequences
};

struct Reader {
    HANDLE pipe;
    QByteArray marker;
    QByteArray seen;
};

DWORD WINAPI readScreen(void *context)
{
    auto *r = static_cast<Reader *>(context);
    char buffer[4096];
    DWORD n;
    while (!r->seen.contains(r->marker) && ::ReadFile(r->pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
        r->seen.append(buffer, int(n));
    return 0;
}

// The commands one after the other in one console, and what it showed.
Screen inConsole(const QList<QStringList> &commands, HANDLE out = nullptr)
{
    Screen screen;
    const auto create = reinterpret_cast<CreatePseudoConsoleFn>(
        reinterpret_cast<void *>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CreatePseudoConsole")));
    const auto close = reinterpret_cast<ClosePseudoConsoleFn>(
        reinterpret_cast<void *>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "ClosePseudoConsole")));
    HANDLE inRead, inWrite, outRead, outWrite;
    void *console = nullptr;
    if (!create || !close || !::CreatePipe(&inRead, &inWrite, nullptr, 0) || !::CreatePipe(&outRead, &outWrite, nullptr, 0) ||
        FAILED(create(COORD{200, 60}, inRead, outWrite, 0, &console)))
        return screen;
    ::CloseHandle(inRead);
    ::CloseHandle(outWrite);
    Reader reader{outRead, "end-of-screen-" + QByteArray::number(quint64(::GetCurrentProcessId())), {}};
    const HANDLE thread = ::CreateThread(nullptr, 0, readScreen, &reader, 0, nullptr);
    for (const QStringList &command : commands)
        screen.codes << run(command, out, nullptr, console);
    run(scene("marker", QString::fromLatin1(reader.marker)), nullptr, nullptr, console);
    const bool read = ::WaitForSingleObject(thread, kWaitMs) == WAIT_OBJECT_0;
    close(console);
    ::CloseHandle(inWrite);
    if (read) {
        ::CloseHandle(thread);
        ::CloseHandle(outRead);
    }
    // The console moves the cursor over blanks rather than writing them.
    QString text = QString::fromUtf8(reader.seen);
    const QRegularExpression forward(QStringLiteral("\x1b\\[([0-9]*)C"));
    for (QRegularExpressionMatch m = forward.match(text); m.hasMatch(); m = forward.match(text, m.capturedStart()))
        text.replace(m.capturedStart(), m.capturedLength(), QString(qMax(1, m.captured(1).toInt()), QLatin1Char(' ')));
    screen.text = text.remove(QRegularExpression(QStringLiteral("\x1b\\[[0-9;?]*[ -/]*[@-~]|\x1b\\][^\x07]*\x07|\r|\\x00")));
    return screen;
}

// A new file, for a child to write to.
HANDLE inheritableFile(const QString &path)
{
    const HANDLE file = ::CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ::SetHandleInformation(file, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return file;
}

} // namespace

class TstWindowsConsole : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(program("sbus-channel.exe")), "build sbus-channel.exe first"); }

    // Every console event is recorded as the signal it stands for, and the exit code says it: 128 + N, as on Unix
    // (Ctrl+C: ctrlCFromTheConsole). After a close, a logoff or a shutdown the system ends the process once the
    // handler returns, so the handler holds on until the main thread has finished the write.
    void consoleEvents_data()
    {
        QTest::addColumn<int>("event");
        QTest::addColumn<int>("code");
        QTest::newRow("Ctrl+Break") << int(CTRL_BREAK_EVENT) << 128 + SIGBREAK;
        QTest::newRow("console closed") << int(CTRL_CLOSE_EVENT) << 129;
        QTest::newRow("logoff") << int(CTRL_LOGOFF_EVENT) << 129;
        QTest::newRow("shutdown") << int(CTRL_SHUTDOWN_EVENT) << 143;
    }
    void consoleEvents()
    {
        QFETCH(int, event);
        QFETCH(int, code);
        QCOMPARE(run(scene("event", QString::number(event))), code);
    }

    // Real Ctrl+C from the console, twice: the second leaves the process be as the first did, and the first
    // decides. The window closes on it.
    void ctrlCFromTheConsole()
    {
        QCOMPARE(inConsole({scene("ctrl-c"), scene("window")}).codes, (QList<int>{130, 130}));
    }

    // UTF-8 reads as UTF-8 in a console whose code page is another, cursor sequences are on, and the next program
    // in that console finds its code page and mode as they were.
    void consoleOutput()
    {
        const Screen screen = inConsole({scene("on-console", QStringLiteral("output")),
                                         scene("on-console", QStringLiteral("after"))});
        QCOMPARE(screen.codes, (QList<int>{0, 0}));
        for (const char *shown :
             {"prepared: caf\u00e9 \u4e2d\u6587", "redraws 1 sequences 1", "after: caf", "sequences 0"})
            QVERIFY2(screen.text.contains(QString::fromUtf8(shown)), qPrintable(screen.text));
        QVERIFY2(!screen.text.contains(QStringLiteral("after: caf\u00e9")), qPrintable(screen.text));
    }

    // A pipe whose reader has gone is the broken pipe it is on Unix.
    void closedPipe()
    {
        HANDLE read, write;
        QVERIFY(::CreatePipe(&read, &write, nullptr, 0));
        ::CloseHandle(read);
        const QString errors = dir.filePath(QStringLiteral("errors"));
        const HANDLE err = inheritableFile(errors);
        ::SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        QCOMPARE(run(scene("closed-pipe"), write, err), 0);
        ::CloseHandle(write);
        ::CloseHandle(err);
        QCOMPARE(contents(errors).trimmed(), QByteArray("Broken pipe"));
    }

    // The window program has no console of its own: its help, version and usage errors go to the console it was
    // started from, unless its output was handed a file, which then gets them.
    void windowProgramText_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("toFile");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("version") << "--version" << false << 0 << "sbus-channel " SBUS_CHANNEL_VERSION;
        QTest::newRow("usage error") << "--bogus" << false << 2 << "Unknown option 'bogus'.\nSee: sbus-channel --help";
        QTest::newRow("help into a file") << "--help" << true << 0 << "Show the version and exit.";
    }
    void windowProgramText()
    {
        QFETCH(QString, argument);
        QFETCH(bool, toFile);
        QFETCH(int, code);
        QFETCH(QString, says);
        const QString file = dir.filePath(QStringLiteral("out.txt"));
        const HANDLE out = toFile ? inheritableFile(file) : nullptr;
        const Screen screen = inConsole({{program("sbus-channel.exe"), argument}}, out);
        if (out)
            ::CloseHandle(out);
        QCOMPARE(screen.codes, QList<int>{code});
        const QString written = toFile ? QString::fromLocal8Bit(contents(file)).remove(QLatin1Char('\r')) : screen.text;
        QVERIFY2(written.contains(says), qPrintable(written));
        if (toFile)
            QVERIFY2(!screen.text.contains(says), qPrintable(screen.text));
    }

    // A shortcut is a file like any other: saving replaces it, not the file it points to, and loading reads it (no
    // backup), wherever it points.
    void shortcuts_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("to a backup") << "backup.json";
        QTest::newRow("to a directory") << "folder";
        QTest::newRow("to nothing") << "gone.json";
    }
    void shortcuts()
    {
        QFETCH(QString, target);
        const QString real = dir.filePath(target), shortcut = real + QStringLiteral(".lnk");
        QString why;
        if (target == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(real));
        else
            QVERIFY2(BackupFile::save(real, kBlock, QDateTime::currentDateTimeUtc(), QStringLiteral("COM3"), &why),
                     qPrintable(why));
        QVERIFY(QFile::link(real, shortcut));
        if (target == QLatin1String("gone.json"))
            QVERIFY(QFile::remove(real));
        QVERIFY(QFileInfo(shortcut).isSymLink()); // so Qt counts it

        ParamBlock block{};
        QCOMPARE(BackupFile::load(shortcut, &block, &why), BackupFile::LoadResult::Refused);
        QVERIFY2(why.startsWith(QLatin1String("it is not JSON")), qPrintable(why));

        const QByteArray before = contents(real);
        ParamBlock other = kBlock;
        other[9] = 12;
        QVERIFY2(BackupFile::save(shortcut, other, QDateTime::currentDateTimeUtc(), QStringLiteral("COM3"), &why),
                 qPrintable(why));
        QCOMPARE(contents(real), before);
        QCOMPARE(QFileInfo(real).isDir(), target == QLatin1String("folder"));
        QCOMPARE(BackupFile::load(shortcut, &block, &why), BackupFile::LoadResult::Loaded);
        QCOMPARE(block, other);
    }

    // A pipe or a device by name is neither read nor replaced: reading one could wait for ever.
    void pipesAndDevices()
    {
        const QString pipe = QStringLiteral("//./pipe/sbus-channel-test-%1").arg(::GetCurrentProcessId());
        const HANDLE server = ::CreateNamedPipeW(QDir::toNativeSeparators(pipe).toStdWString().c_str(), PIPE_ACCESS_DUPLEX,
                                                 PIPE_TYPE_BYTE, 1, 64, 64, 0, nullptr);
        QVERIFY(server != INVALID_HANDLE_VALUE);
        ParamBlock block{};
        QString why;
        QCOMPARE(BackupFile::load(pipe, &block, &why), BackupFile::LoadResult::Unreadable);
        QCOMPARE(why, QStringLiteral("it is a pipe, not a regular file"));
        ::CloseHandle(server);
        QVERIFY(SafeFile::writeTarget(QStringLiteral("NUL"), &why).isEmpty());
        QCOMPARE(why, QStringLiteral("it is a character device, not a regular file"));
    }
};

int main(int argc, char *argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return child(argc, argv);
    QApplication app(argc, argv);
    TstWindowsConsole test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windows_console.moc"
