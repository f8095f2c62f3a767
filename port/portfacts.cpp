// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// The facts every platform judges alike; what only one system can tell is in
// portfacts_<platform>.cpp.
#include "port/portfacts.h"

namespace PortDiagnostics {

Facts windowsOpenFacts(const std::string &port, long error)
{
    Facts f;
    f.devicePath = port;
    f.windowsError = error;
    switch (error) {
    case WindowsError::kFileNotFound:
    case WindowsError::kPathNotFound:
        f.access = Access::Missing;
        break;
    case WindowsError::kAccessDenied:
    case WindowsError::kSharingViolation:
        // Windows gives a COM port to one program at a time and tells the
        // next one no more than "access denied"; which program has it is not
        // to be learnt without rights over every process.
        f.access = Access::Busy;
        break;
    default:
        f.windowsError = 0;
        break;
    }
    return f;
}

} // namespace PortDiagnostics
