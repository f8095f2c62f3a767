#include "pty.h"

#if defined(__APPLE__)
#include <util.h>
#else
#include <pty.h>
#endif
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    if (::openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
    // Raw, so the line discipline passes every byte of a frame untouched.
    termios tio{};
    if (::tcgetattr(slaveFd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slaveFd, TCSANOW, &tio);
    }
    path = QString::fromLocal8Bit(name);
}

void PtyPair::closeMaster()
{
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}

PtyPair::~PtyPair()
{
    if (slaveFd >= 0)
        ::close(slaveFd);
    if (masterFd >= 0)
        ::close(masterFd);
}
