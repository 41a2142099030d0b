# SPDX-License-Identifier: GPL-2.0-or-later
# Writes the man page of one program with help2man (cmake -P).
#   -DHELP2MAN=path -DPROGRAM=path -DOUT=page.1 -DNAME="what it does" -DSOURCE="Quarnix 1.0"
# For quarnix-tool, the help of every command listed by its --help goes into
# a COMMANDS section.

get_filename_component(name ${PROGRAM} NAME)
set(include_file ${OUT}.include)
set(include_text "")

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${rc}")
endif()
string(FIND "${help}" "\nCommands:\n" commands_at)
if(NOT commands_at EQUAL -1)
  string(SUBSTRING "${help}" ${commands_at} -1 commands)
  string(REGEX REPLACE "^\nCommands:\n" "" commands "${commands}")
  string(REGEX REPLACE "\n\n.*$" "" commands "${commands}")
  string(REPLACE "\n" ";" lines "${commands}")
  string(APPEND include_text "[COMMANDS]\nEach command answers \\fB--help\\fR with the text below.\n")
  foreach(line ${lines})
    string(REGEX MATCH "^  ([a-z-]+)" _ "${line}")
    set(command ${CMAKE_MATCH_1})
    if(command STREQUAL "")
      continue()
    endif()
    execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${PROGRAM} ${command} --help failed: ${rc}")
    endif()
    # Shown as written: backslashes escaped, no line taken for a request.
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    string(APPEND include_text ".SS ${command}\n.nf\n${text}.fi\n")
  endforeach()
endif()

if(name STREQUAL "quarnix")
  string(APPEND include_text "[SEE ALSO]\n.BR quarnix-tool (1)\n")
else()
  string(APPEND include_text "[SEE ALSO]\n.BR quarnix (1)\n")
endif()
file(WRITE ${include_file} "${include_text}")

get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --name=${NAME} --source=${SOURCE}
          --include=${include_file} --output=${OUT}.tmp ${PROGRAM}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}: ${err}")
endif()
file(RENAME ${OUT}.tmp ${OUT})
file(REMOVE ${include_file})
