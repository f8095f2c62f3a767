# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# The shared libraries a program loads, as its dynamic section (ELF) or its
# import table (PE) names them: none may match FORBIDDEN, and one must match
# EXPECTED, so that a dump this script no longer understands fails rather
# than passes on finding nothing. Run as:
#   cmake -DOBJDUMP=<objdump> -DPROGRAM=<file> -DEXPECTED=<regex> -DFORBIDDEN=<regex> -P linkedlibraries.cmake
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM}
    OUTPUT_VARIABLE dump ERROR_VARIABLE error RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed: ${error}")
endif()
string(REGEX MATCHALL "(NEEDED|DLL Name:)[ \t]+[^ \t\r\n]+" lines "${dump}")
set(loaded "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^(NEEDED|DLL Name:)[ \t]+" "" library "${line}")
    list(APPEND loaded "${library}")
endforeach()
list(JOIN loaded ", " shown)
set(expected_found OFF)
foreach(library IN LISTS loaded)
    if(library MATCHES "${FORBIDDEN}")
        message(FATAL_ERROR "${PROGRAM} loads ${library}, which matches ${FORBIDDEN} (it loads: ${shown})")
    endif()
    if(library MATCHES "${EXPECTED}")
        set(expected_found ON)
    endif()
endforeach()
if(NOT expected_found)
    message(FATAL_ERROR "${PROGRAM} loads nothing that matches ${EXPECTED} (it loads: ${shown})")
endif()
message(STATUS "${PROGRAM} loads: ${shown}")
