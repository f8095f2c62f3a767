# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# Configures the project in scratch directories and checks which Qt each
# value of SBUS_CHANNEL_QT picks, alone and inside a project that already
# found a Qt. Run by CTest:
#   cmake -DSOURCE=<project> -DWORK=<scratch dir> -P qtchoice.cmake

set(fast -DBUILD_TESTING=OFF -DSBUS_CHANNEL_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Release)

# Sets picked_<name> to the major of the Qt it was built with, or to
# "refused: <first error line>".
function(configure name)
    file(REMOVE_RECURSE ${WORK}/${name})
    execute_process(COMMAND ${CMAKE_COMMAND} ${ARGN} -B ${WORK}/${name} ${fast}
        OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
    if(rc EQUAL 0 AND out MATCHES "sbus-channel: building with Qt ([56])\\.")
        set(picked_${name} ${CMAKE_MATCH_1} PARENT_SCOPE)
    elseif(rc EQUAL 0)
        message(FATAL_ERROR "${name}: configured without saying which Qt:\n${out}")
    else()
        string(REGEX MATCH "CMake Error[^\n]*\n[^\n]*" first "${err}")
        set(picked_${name} "refused: ${first}" PARENT_SCOPE)
    endif()
endfunction()

function(expect name want)
    if(NOT picked_${name} STREQUAL want)
        message(FATAL_ERROR "${name}: wanted '${want}', got '${picked_${name}}'")
    endif()
    message(STATUS "${name}: ${want}")
endfunction()

configure(qt5 -S ${SOURCE} -DSBUS_CHANNEL_QT=5)
configure(qt6 -S ${SOURCE} -DSBUS_CHANNEL_QT=6)
configure(default -S ${SOURCE})
configure(bad -S ${SOURCE} -DSBUS_CHANNEL_QT=7)

set(installed)
foreach(major 5 6)
    if(picked_qt${major} STREQUAL major)
        list(APPEND installed ${major})
    elseif(NOT picked_qt${major} MATCHES "needs Qt ${major} with")
        message(FATAL_ERROR "qt${major}: neither built nor refused for a missing Qt: ${picked_qt${major}}")
    endif()
endforeach()
if(NOT installed)
    message(FATAL_ERROR "neither Qt 5 nor Qt 6 was found")
endif()
list(GET installed 0 first)
expect(default ${first})
if(NOT picked_bad MATCHES "use 5, 6, or leave it empty")
    message(FATAL_ERROR "SBUS_CHANNEL_QT=7 was not refused as it should be: ${picked_bad}")
endif()

# A project that embeds this one after finding a Qt of its own must get the
# same Qt, or the two would link two Qt libraries into one program.
foreach(major IN LISTS installed)
    set(outer ${WORK}/outer${major})
    file(MAKE_DIRECTORY ${outer})
    file(WRITE ${outer}/CMakeLists.txt
        "cmake_minimum_required(VERSION 3.16)\n"
        "project(outer CXX)\n"
        "find_package(Qt${major} REQUIRED COMPONENTS Core)\n"
        "add_subdirectory(${SOURCE} sbus)\n")
    configure(embedded${major} -S ${outer})
    expect(embedded${major} ${major})
endforeach()
