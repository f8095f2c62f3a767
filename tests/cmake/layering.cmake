# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# The build keeps each folder to its own headers and those of the targets it
# links; what it cannot see is checked here. A folder's target may link only
# the layers below it (CMake takes any link it is given), and no include may
# climb out of a folder by a relative path (which the include path never
# sees). Run as: cmake -DSOURCE=<repository> -P layering.cmake
cmake_minimum_required(VERSION 3.16)
set(layers
    "lang"
    "link"
    "os"
    "port|lang"
    "ui|lang|link"
    "formats|lang|link|os|port"
    "app|lang|link|os|port|ui|formats"
    "cli|lang|link|os|port|formats"
    "sim|link"
    "rig|lang|link|os|port|ui|formats|lib|sim"
    "demo|lang|link|os|port|ui|formats|lib|sim|rig"
)
set(failures "")
foreach(layer IN LISTS layers)
    string(REPLACE "|" ";" below "${layer}")
    list(POP_FRONT below folder)
    # Linking: every sbus_channel_ target named in the folder's links. The
    # window's target keeps the name embedding projects link.
    set(own ${folder})
    if(folder STREQUAL "app")
        set(own lib)
    endif()
    file(READ ${SOURCE}/${folder}/CMakeLists.txt cmake)
    string(REGEX MATCHALL "target_link_libraries\\([^)]*\\)" links "${cmake}")
    string(REGEX MATCHALL "sbus_channel_[a-z]+" linked "${links}")
    foreach(target IN LISTS linked)
        string(REPLACE "sbus_channel_" "" name ${target})
        if(NOT name IN_LIST below AND NOT name MATCHES "^(sanitizers|version|${own})$")
            string(APPEND failures "  ${folder}/ links a layer not below it: ${target}\n")
        endif()
    endforeach()
    file(GLOB files ${SOURCE}/${folder}/*.h ${SOURCE}/${folder}/*.cpp)
    foreach(f IN LISTS files)
        file(STRINGS ${f} climbing REGEX "^#include \"\\.\\./")
        foreach(line IN LISTS climbing)
            string(APPEND failures "  ${folder}/ climbs out by a relative path: ${f}: ${line}\n")
        endforeach()
    endforeach()
endforeach()
if(failures)
    message(FATAL_ERROR "runs against the layering:\n${failures}")
endif()
