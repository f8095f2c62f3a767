# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# What goes with the programs on a Linux system: the copyright file and
# changelog a Debian package must carry, and manual pages made from the
# programs' own --help and --version, so they never drift from what the
# programs say. Built by the target sbus-channel-docs (part of all).
# Included from install.cmake.

set(sbus_channel_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/sbus-channel)
set(sbus_channel_doc_outputs)
find_program(SBUS_CHANNEL_GZIP gzip)

# --- copyright, in Debian's machine-readable format -------------------------
# Written from LICENSE, so the two can't disagree.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/resources/deb/changelog)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" found "${license}")
set(holder "${CMAKE_MATCH_1}")
string(FIND "${license}" "Permission is hereby granted" start)
if(NOT found OR start LESS 0)
    message(FATAL_ERROR "LICENSE is not the MIT licence with a copyright line; "
        "cmake/docs.cmake can't write the package's copyright file from it")
endif()
string(SUBSTRING "${license}" ${start} -1 text)
string(STRIP "${text}" text)
# A field's continuation lines start with a space; an empty one is " .".
string(REPLACE "\n" "\n " text " ${text}")
string(REPLACE "\n \n" "\n .\n" text "${text}")
file(WRITE ${PROJECT_BINARY_DIR}/doc/copyright.new
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: sbus-channel
Source: ${sbus_channel_homepage}

Files: *
Copyright: ${holder}
License: MIT
${text}
")
# Touched only when it changes, so a reconfigure rebuilds nothing.
configure_file(${PROJECT_BINARY_DIR}/doc/copyright.new ${PROJECT_BINARY_DIR}/doc/copyright COPYONLY)
install(FILES ${PROJECT_BINARY_DIR}/doc/copyright DESTINATION ${sbus_channel_docdir})

# --- changelog ---------------------------------------------------------------
# dpkg-parsechangelog, where there is one, catches a version bumped without a
# changelog entry, and gives the release's time to help2man, so the manual
# pages carry the release's date rather than the build's.
set(sbus_channel_release_epoch)
find_program(SBUS_CHANNEL_DPKG_PARSECHANGELOG dpkg-parsechangelog)
if(SBUS_CHANNEL_DPKG_PARSECHANGELOG)
    execute_process(
        COMMAND ${SBUS_CHANNEL_DPKG_PARSECHANGELOG} -l ${PROJECT_SOURCE_DIR}/resources/deb/changelog -SVersion
        OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed AND NOT version STREQUAL PROJECT_VERSION)
        message(WARNING "resources/deb/changelog's latest entry is ${version}, the project is at "
            "${PROJECT_VERSION}: give the new version an entry (and a <release> in "
            "resources/sbus-channel.metainfo.xml.in)")
    endif()
    execute_process(
        COMMAND ${SBUS_CHANNEL_DPKG_PARSECHANGELOG} -l ${PROJECT_SOURCE_DIR}/resources/deb/changelog -STimestamp
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed AND epoch MATCHES "^[0-9]+$")
        set(sbus_channel_release_epoch SOURCE_DATE_EPOCH=${epoch})
    endif()
endif()

if(SBUS_CHANNEL_GZIP)
    # The licence header is for the source tree; the installed changelog is
    # the plain Debian format. -n leaves out name and time, so the same
    # changelog always compresses to the same bytes.
    add_custom_command(
        OUTPUT ${PROJECT_BINARY_DIR}/doc/changelog.gz
        COMMAND sh -c "sed '/^# SPDX-/d' \"$1\" | \"$2\" -9n > \"$3\"" sh
            ${PROJECT_SOURCE_DIR}/resources/deb/changelog ${SBUS_CHANNEL_GZIP} ${PROJECT_BINARY_DIR}/doc/changelog.gz
        DEPENDS ${PROJECT_SOURCE_DIR}/resources/deb/changelog
        COMMENT "Compressing the changelog"
        VERBATIM)
    list(APPEND sbus_channel_doc_outputs ${PROJECT_BINARY_DIR}/doc/changelog.gz)
    install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz DESTINATION ${sbus_channel_docdir})
else()
    message(STATUS "sbus-channel: gzip not found: no changelog and no manual pages are installed")
endif()

# --- manual pages ------------------------------------------------------------
find_program(SBUS_CHANNEL_HELP2MAN help2man)
if(NOT SBUS_CHANNEL_HELP2MAN)
    message(STATUS "sbus-channel: help2man not found: no manual pages are installed "
        "(on Debian: scripts/bootstrap, or apt-get install help2man)")
elseif(CMAKE_CROSSCOMPILING)
    message(STATUS "sbus-channel: cross-compiling: no manual pages, as help2man would have to run the programs")
elseif(SBUS_CHANNEL_SANITIZE)
    # A sanitizer's report at exit would fail the page, and the build with it.
    message(STATUS "sbus-channel: sanitized build: no manual pages")
elseif(SBUS_CHANNEL_GZIP)
    if(IS_ABSOLUTE "${SBUS_CHANNEL_UDEV_RULES_DIR}")
        set(SBUS_CHANNEL_UDEV_RULE "${SBUS_CHANNEL_UDEV_RULES_DIR}/60-sbus-channel.rules")
    else()
        set(SBUS_CHANNEL_UDEV_RULE "${CMAKE_INSTALL_PREFIX}/${SBUS_CHANNEL_UDEV_RULES_DIR}/60-sbus-channel.rules")
    endif()
    set(man ${PROJECT_BINARY_DIR}/man)
    foreach(page sbus-channel sbus-channel-cli)
        configure_file(${PROJECT_SOURCE_DIR}/resources/${page}.h2m.in ${man}/${page}.h2m @ONLY)
    endforeach()

    # The window answers --help and --version without a display; with one
    # it would try to open it.
    set(run_without_display ${CMAKE_COMMAND} -E env
        --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
        LC_ALL=C.UTF-8 ${sbus_channel_release_epoch})

    add_custom_command(
        OUTPUT ${man}/sbus-channel.1.gz
        COMMAND ${run_without_display} ${SBUS_CHANNEL_HELP2MAN} --no-info
            "--name=set which SBUS receiver channel drives each camera gimbal function"
            --include=${man}/sbus-channel.h2m
            --output=${man}/sbus-channel.1 $<TARGET_FILE:sbus-channel>
        COMMAND ${SBUS_CHANNEL_GZIP} -9nf ${man}/sbus-channel.1
        DEPENDS sbus-channel ${man}/sbus-channel.h2m
        COMMENT "Making the manual page sbus-channel.1"
        VERBATIM)

    # Each command's own --help becomes a section of the page.
    add_custom_command(
        OUTPUT ${man}/sbus-channel-cli-commands.h2m
        COMMAND ${run_without_display} ${CMAKE_COMMAND}
            -DCLI=$<TARGET_FILE:sbus-channel-cli>
            -DOUTPUT=${man}/sbus-channel-cli-commands.h2m
            -P ${CMAKE_CURRENT_LIST_DIR}/cli-commands-h2m.cmake
        DEPENDS sbus-channel-cli ${CMAKE_CURRENT_LIST_DIR}/cli-commands-h2m.cmake
        VERBATIM)
    add_custom_command(
        OUTPUT ${man}/sbus-channel-cli.1.gz
        COMMAND ${run_without_display} ${SBUS_CHANNEL_HELP2MAN} --no-info
            "--name=read, set, back up and restore a gimbal controller's SBUS channels"
            --include=${man}/sbus-channel-cli.h2m
            --include=${man}/sbus-channel-cli-commands.h2m
            --output=${man}/sbus-channel-cli.1 $<TARGET_FILE:sbus-channel-cli>
        COMMAND ${SBUS_CHANNEL_GZIP} -9nf ${man}/sbus-channel-cli.1
        DEPENDS sbus-channel-cli ${man}/sbus-channel-cli.h2m ${man}/sbus-channel-cli-commands.h2m
        COMMENT "Making the manual page sbus-channel-cli.1"
        VERBATIM)

    list(APPEND sbus_channel_doc_outputs ${man}/sbus-channel.1.gz ${man}/sbus-channel-cli.1.gz)
    install(FILES ${man}/sbus-channel.1.gz ${man}/sbus-channel-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

add_custom_target(sbus-channel-docs ALL DEPENDS ${sbus_channel_doc_outputs})
