# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# The folders depend one way: the protocol core (link/) on nothing of ours,
# the form and its texts (ui/) on nothing above them, and neither on the
# window class (app/). Run as: cmake -DSOURCE=<repository> -P layering.cmake
set(rules
    "lang|app/|port/|formats/|os/|ui/|sim/|rig/|cli/|link/"
    "link|app/|port/|formats/|os/|ui/|sim/|rig/|cli/"
    "ui|app/|sim/|rig/|cli/"
    "port|app/|ui/|sim/|rig/|cli/"
    "formats|app/|ui/|sim/|rig/|cli/"
    "os|app/|ui/|port/|formats/|link/|sim/|rig/|cli/"
    "sim|app/|ui/|port/|rig/|cli/|formats/"
)
set(failures "")
foreach(rule IN LISTS rules)
    string(REPLACE "|" ";" parts "${rule}")
    list(POP_FRONT parts folder)
    file(GLOB files ${SOURCE}/${folder}/*.h ${SOURCE}/${folder}/*.cpp)
    foreach(f IN LISTS files)
        file(STRINGS ${f} includes REGEX "^#include \"")
        foreach(line IN LISTS includes)
            foreach(above IN LISTS parts)
                if(line MATCHES "^#include \"${above}")
                    string(APPEND failures "  ${folder}/ reaches up: ${f}: ${line}\n")
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()
if(failures)
    message(FATAL_ERROR "includes that run against the layering:\n${failures}")
endif()
