# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# Command-line completion for sbus-channel-cli, where bash-completion loads it
# on demand. Included from install.cmake.

if(NOT DEFINED CACHE{SBUS_CHANNEL_BASH_COMPLETION_DIR})
    # bash-completion names its directory under its own prefix; kept relative
    # to ours, so an install into ~/.local lands in ~/.local/share/..., which
    # bash-completion reads as well.
    set(dir "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
        pkg_get_variable(completions bash-completion completionsdir)
        pkg_get_variable(completions_prefix bash-completion prefix)
        if(completions)
            set(dir "${completions}")
            string(LENGTH "${completions_prefix}/" length)
            string(SUBSTRING "${completions}" 0 ${length} head)
            if(completions_prefix AND head STREQUAL "${completions_prefix}/")
                string(SUBSTRING "${completions}" ${length} -1 dir)
            endif()
        endif()
    endif()
    set(SBUS_CHANNEL_BASH_COMPLETION_DIR "${dir}" CACHE STRING
        "Where bash-completion looks for completions, relative to the prefix or absolute")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/resources/sbus-channel-cli.bash-completion
    DESTINATION ${SBUS_CHANNEL_BASH_COMPLETION_DIR}
    RENAME sbus-channel-cli)
