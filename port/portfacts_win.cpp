// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
// Windows: a port is a DOS device name, and all the system tells of it
// without opening it is whether it is there.
#include "port/portfacts.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cctype>

namespace PortDiagnostics {
namespace {

// "COM3" for "\\.\COM3", "//./com3" or "com3", the form the system keeps
// its names in; empty for a path, which names no DOS device.
std::string dosDeviceName(const std::string &given)
{
    std::string name = given;
    if (name.compare(0, 4, "\\\\.\\") == 0 || name.compare(0, 4, "//./") == 0)
        name.erase(0, 4);
    if (name.empty() || name.find_first_of(":\\/") != std::string::npos)
        return {};
    for (char &c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// Only the system's table of device names is asked, so a port another
// program holds is neither opened nor disturbed.
bool dosDeviceMissing(const std::string &name)
{
    std::wstring wide(name.begin(), name.end());
    wchar_t targets[1024];
    if (::QueryDosDeviceW(wide.c_str(), targets, DWORD(sizeof targets / sizeof targets[0])) != 0)
        return false;
    // Too many targets to list still means there is one.
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

} // namespace

Facts gather(const std::string &devicePath)
{
    Facts f;
    f.devicePath = devicePath;
    if (devicePath.empty()) {
        f.access = Access::Missing;
        return f;
    }
    // Messages name the port as users know it.
    const std::string name = dosDeviceName(devicePath);
    if (!name.empty()) {
        f.devicePath = name;
        if (dosDeviceMissing(name))
            f.access = Access::Missing;
    }
    return f;
}

bool mayBeSerialPort(const std::string &devicePath)
{
    const Access access = gather(devicePath).access;
    return access != Access::Missing && access != Access::NotSerial;
}

std::vector<Holder> lockHolders(const std::string &)
{
    return {};
}

} // namespace PortDiagnostics
