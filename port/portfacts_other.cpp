// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// Unix systems other than Linux (macOS, the BSDs): they keep no list of who
// holds a node that a normal user may read, so the open's own error is all
// there is to go by.
#include "port/portfacts.h"

namespace PortDiagnostics {

Facts gather(const std::string &devicePath)
{
    Facts f;
    f.devicePath = devicePath;
    return f;
}

bool mayBeSerialPort(const std::string &)
{
    return true;
}

std::vector<Holder> lockHolders(const std::string &)
{
    return {};
}

} // namespace PortDiagnostics
