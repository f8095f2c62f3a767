# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# Install layout and packaging.
#
# Paths come from PROJECT_SOURCE_DIR, so the rules stay right when another
# project pulls this one in with add_subdirectory; such a project gets no
# install rules unless it asks for them, and never our CPack settings.

include(GNUInstallDirs)

if(CMAKE_PROJECT_NAME STREQUAL PROJECT_NAME)
    set(sbus_channel_top_level ON)
else()
    set(sbus_channel_top_level OFF)
endif()

option(SBUS_CHANNEL_INSTALL "Install sbus-channel and sbus-channel-cli" ${sbus_channel_top_level})
# udev reads its rules from /usr/lib/udev/rules.d (on Debian 12 also from
# /lib/udev/rules.d, where its own package keeps them) and /etc/udev/rules.d;
# GNUInstallDirs' LIBDIR would put the rule under a multiarch directory that
# udev never reads. A distribution package names its own place
# (scripts/package asks pkg-config); an absolute path is taken as it is.
set(SBUS_CHANNEL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rule for USB serial adapters goes, relative to the prefix or absolute")
# The one address the project is known by: the AppStream metadata's home page
# and screenshots, and the package's Homepage field, all follow it.
set(SBUS_CHANNEL_HOMEPAGE "https://sbus-channel.example.org" CACHE STRING
    "Home page of the project; the AppStream screenshots are under <home page>/docs/")
string(REGEX REPLACE "/+$" "" sbus_channel_homepage "${SBUS_CHANNEL_HOMEPAGE}")
# AppStream's component id: the home page's host, reversed.
set(SBUS_CHANNEL_APPSTREAM_ID "org.example.sbus_channel")

if(SBUS_CHANNEL_INSTALL)
    # Simulator, demo, tools, tests and benchmarks are for the bench, not for users.
    install(TARGETS sbus-channel
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        BUNDLE DESTINATION .)
    if(TARGET sbus-channel-cli)
        install(TARGETS sbus-channel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
        set_target_properties(sbus-channel-cli PROPERTIES INSTALL_RPATH_USE_LINK_PATH ON)
    endif()
    # An installed copy built against a Qt outside the system directories
    # (a Qt installer's tree) still finds it; a system Qt adds no RUNPATH.
    set_target_properties(sbus-channel PROPERTIES INSTALL_RPATH_USE_LINK_PATH ON)

    if(UNIX AND NOT APPLE)
        install(FILES ${PROJECT_SOURCE_DIR}/resources/sbus-channel.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
        install(FILES ${PROJECT_SOURCE_DIR}/resources/sbus-channel.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
        configure_file(${PROJECT_SOURCE_DIR}/resources/sbus-channel.metainfo.xml.in
            ${PROJECT_BINARY_DIR}/${SBUS_CHANNEL_APPSTREAM_ID}.metainfo.xml @ONLY)
        install(FILES ${PROJECT_BINARY_DIR}/${SBUS_CHANNEL_APPSTREAM_ID}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
        include(${CMAKE_CURRENT_LIST_DIR}/bash-completion.cmake)
        include(${CMAKE_CURRENT_LIST_DIR}/docs.cmake)
    endif()
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
        install(FILES ${PROJECT_SOURCE_DIR}/resources/60-sbus-channel.rules
            DESTINATION ${SBUS_CHANNEL_UDEV_RULES_DIR})
    endif()

    # What Debian's own packages drop when they strip: the compilers' version
    # strings, which only make the package bigger.
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_STRIP)
        install(CODE "
            if(CMAKE_INSTALL_DO_STRIP)
                foreach(program sbus-channel sbus-channel-cli)
                    set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
                    if(EXISTS \"\${file}\")
                        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note \"\${file}\"
                            RESULT_VARIABLE failed)
                        if(failed)
                            message(FATAL_ERROR \"${CMAKE_STRIP} could not strip \${file}\")
                        endif()
                    endif()
                endforeach()
            endif()")
    endif()
endif()

if(NOT sbus_channel_top_level OR NOT SBUS_CHANNEL_INSTALL)
    return()
endif()

set(CPACK_PACKAGE_NAME sbus-channel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "SBUS Channel maintainers")
set(CPACK_PACKAGE_CONTACT "SBUS Channel maintainers <maintainers@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "set which SBUS receiver channel drives each camera gimbal function")
set(CPACK_PACKAGE_DESCRIPTION
"SBUS Channel talks to a camera gimbal's controller over a serial line and sets
which SBUS receiver channel (1 to 18) drives each of the gimbal's five
functions: tilt, pan, mode, video record and zoom. It reads, writes and stores
the parameter block of the controller and shows each function's live position.

The package holds the window (sbus-channel), a command-line tool for scripts
(sbus-channel-cli), and a udev rule that lets the user at the local seat open
common USB serial adapters (CP210x, FTDI, CH340, PL2303).")
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}")
set(CPACK_STRIP_FILES ON)

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${sbus_channel_homepage}")
# The form asks for Windows CJK faces; these stand in for them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei, fonts-arphic-uming")

# dpkg-shlibdeps reads the libraries the binaries really link and the versions
# their symbols need, as Debian's own packages do. Without it (a machine
# without dpkg-dev), the same list with the lowest versions it yields for
# Debian 12, so the package still pulls in its runtime.
find_program(SBUS_CHANNEL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(SBUS_CHANNEL_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    if(QT_VERSION_MAJOR EQUAL 6)
        set(CPACK_DEBIAN_PACKAGE_DEPENDS
            "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libqt6core6 (>= 6.4.0), libqt6gui6 (>= 6.1.2), libqt6serialport6 (>= 6.2.1), libqt6widgets6 (>= 6.1.2), libstdc++6 (>= 5.2)")
    else()
        set(CPACK_DEBIAN_PACKAGE_DEPENDS
            "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libqt5core5a (>= 5.15.1), libqt5gui5 (>= 5.11.0~rc1) | libqt5gui5-gles (>= 5.11.0~rc1), libqt5serialport5 (>= 5.6.0), libqt5widgets5 (>= 5.2.0~alpha1), libstdc++6 (>= 5.2)")
    endif()
endif()

set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/resources/deb/postinst
    ${PROJECT_SOURCE_DIR}/resources/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR DEB)
endif()
set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/build[^/]*/")
include(CPack)
