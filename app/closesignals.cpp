#include "app/closesignals.h"

#include <QObject>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int wakeFds[2] = {-1, -1};
volatile std::sig_atomic_t first = 0;

// Only what is safe in a handler: note the signal, wake the event loop.
extern "C" void wake(int signalNumber)
{
    if (first == 0)
        first = signalNumber;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);
}
} // namespace

namespace CloseSignals {

void install(QWidget &window)
{
    if (wakeFds[0] < 0 && ::pipe(wakeFds) != 0)
        return;
    for (int fd : wakeFds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    // Owned by the window, so it goes with it.
    auto *notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, &window);
    notifier->setObjectName(QStringLiteral("closeSignalNotifier"));
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char drain[64];
        while (::read(wakeFds[0], drain, sizeof drain) > 0) {
        }
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = wake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
}

int received()
{
    return first;
}

} // namespace CloseSignals

#else

namespace CloseSignals {
void install(QWidget &) {}
int received() { return 0; }
} // namespace CloseSignals

#endif
