# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# Writes a help2man include file with a COMMANDS section: for each command
# the program's overview lists, what `sbus-channel-cli help COMMAND` prints,
# as it prints it. The commands are read from the overview, so a new one
# gets its section without a list here to keep in step.
#
#   cmake -DCLI=path/to/sbus-channel-cli -DOUTPUT=file.h2m -P cli-commands-h2m.cmake

if(NOT CLI OR NOT OUTPUT)
    message(FATAL_ERROR "usage: cmake -DCLI=PROGRAM -DOUTPUT=FILE -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

execute_process(COMMAND ${CLI} --help OUTPUT_VARIABLE overview RESULT_VARIABLE failed)
# The lines between "Commands:" and the next blank line, each "  NAME  ...".
string(REGEX MATCH "
Commands:
(([^
]+
)+)" block "${overview}")
string(REGEX MATCHALL "(^|
)  [a-z]+ " heads "${CMAKE_MATCH_1}")
set(COMMANDS)
foreach(head IN LISTS heads)
    string(STRIP "${head}" head)
    list(APPEND COMMANDS ${head})
endforeach()
if(failed OR NOT COMMANDS)
    message(FATAL_ERROR "${CLI} --help listed no commands (${failed})")
endif()

set(roff "[COMMANDS]\n")
foreach(command IN LISTS COMMANDS)
    execute_process(COMMAND ${CLI} help ${command}
        OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE failed)
    if(failed OR text STREQUAL "")
        message(FATAL_ERROR "${CLI} help ${command} failed (${failed}): ${errors}")
    endif()
    # Plain text into roff: backslashes and minus signs escaped, and no line
    # may start with a control character.
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" text "\n${text}")
    string(STRIP "${text}" text)
    string(APPEND roff ".SS ${command}\n.nf\n${text}\n.fi\n")
endforeach()
file(WRITE ${OUTPUT} "${roff}")
