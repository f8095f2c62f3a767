# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# Cross-builds the Windows programs on Debian with MinGW-w64 (the -posix
# compilers: std::thread and std::mutex need their threading model).
# The Qt for Windows comes from CMAKE_PREFIX_PATH, or from SBUS_CHANNEL_WINDOWS_QT
# in the environment, as scripts/windows-qt prints it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT CMAKE_PREFIX_PATH AND DEFINED ENV{SBUS_CHANNEL_WINDOWS_QT})
    set(CMAKE_PREFIX_PATH "$ENV{SBUS_CHANNEL_WINDOWS_QT}")
endif()
# Try-compiles run with a toolchain file of their own copy: hand the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CMAKE_PREFIX_PATH)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${CMAKE_PREFIX_PATH})
# Qt's moc, uic and rcc in that prefix are Linux programs: look for programs on the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
