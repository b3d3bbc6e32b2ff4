# Writes a program's manual page from its --help, so the page says what the
# program says. Run as a script after the program is linked:
#   cmake -DPROGRAM=<built program> -DNAME=<installed name> -DVERSION=<x.y.z>
#         -DOUTPUT=<page>.1.gz -P VeltroManPage.cmake
# The help is Qt's QCommandLineParser layout: "Usage: <path> <synopsis>", the
# description, then "Options:" and "Arguments:" with one entry per line, its
# names and its text in two columns, the text wrapped below it.

cmake_minimum_required(VERSION 3.25)

# The windows make their application object before they read their options.
set(ENV{QT_QPA_PLATFORM} offscreen)
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help ERROR_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT help MATCHES "^Usage: ")
  message(FATAL_ERROR "${PROGRAM} --help failed (${status}): ${help}")
endif()

# roff text: a backslash printed as one, every '-' a real minus (so options
# copied from the page work), and no line taken for a request.
function(roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  string(REPLACE "\n." "\n\\&." text "${text}")
  string(REPLACE "\n'" "\n\\&'" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Lines as a CMake list: characters that list splitting treats specially
# stand in for themselves until each line is written.
string(ASCII 26 semicolon)
string(ASCII 27 open)
string(ASCII 28 close)
string(REPLACE ";" "${semicolon}" help "${help}")
string(REPLACE "[" "${open}" help "${help}")
string(REPLACE "]" "${close}" help "${help}")
string(REGEX REPLACE "\n$" "" help "${help}")
string(REPLACE "\n" ";" lines "${help}")

set(synopsis "") # what follows the program's path on the usage line
set(description "")
set(sections "")  # roff of the option sections
set(part usage)
set(entry "")     # the entry being collected: names, then its text
set(text "")
macro(flush_entry)
  if(entry)
    # Option names bold, their value's name in italics.
    string(REGEX MATCH "^([^<]*[^< ])( (<.*))?$" _ "${entry}")
    roff(names "${CMAKE_MATCH_1}")
    roff(value "${CMAKE_MATCH_3}")
    roff(body "${text}")
    if(value)
      string(APPEND sections ".TP\n\\fB${names}\\fR \\fI${value}\\fR\n${body}\n")
    else()
      string(APPEND sections ".TP\n\\fB${names}\\fR\n${body}\n")
    endif()
  endif()
  set(entry "")
  set(text "")
endmacro()
foreach(line IN LISTS lines)
  if(part STREQUAL "usage")
    string(REGEX REPLACE "^Usage: [^ ]+ ?" "" synopsis "${line}")
    set(part description)
  elseif(line MATCHES "^(Options|Arguments):$")
    flush_entry()
    string(TOUPPER "${CMAKE_MATCH_1}" title)
    string(APPEND sections ".SH ${title}\n")
    set(part entries)
  elseif(part STREQUAL "description")
    if(NOT line STREQUAL "")
      string(APPEND description "${line}\n")
    endif()
  elseif(line MATCHES "^  ([^ ]+( [^ ]+)*)(  +([^ ].*))?$")
    set(next_entry "${CMAKE_MATCH_1}")
    set(next_text "${CMAKE_MATCH_4}")
    flush_entry()
    set(entry "${next_entry}")
    set(text "${next_text}")
  elseif(line MATCHES "^   *([^ ].*)$")
    string(APPEND text " ${CMAKE_MATCH_1}")
  endif()
endforeach()
flush_entry()

# The whatis line: the description's first clause ("Runs a live Veltro
# classroom in a window." -> "runs a live Veltro classroom in a window").
string(REGEX MATCH "^[^.:\n]+" summary "${description}")
string(SUBSTRING "${summary}" 0 1 first)
string(TOLOWER "${first}" first)
string(SUBSTRING "${summary}" 1 -1 rest)
roff(summary "${first}${rest}")
roff(name "${NAME}")
roff(synopsis "${synopsis}")
roff(description "${description}")
string(TOUPPER "${name}" title)
set(page ".TH ${title} 1 \"\" \"veltroclient ${VERSION}\" \"User Commands\"
.SH NAME
${name} \\- ${summary}
.SH SYNOPSIS
.B ${name}
${synopsis}
.SH DESCRIPTION
${description}${sections}")
string(REPLACE "${semicolon}" ";" page "${page}")
string(REPLACE "${open}" "[" page "${page}")
string(REPLACE "${close}" "]" page "${page}")

string(REGEX REPLACE "\\.gz$" "" plain "${OUTPUT}")
file(WRITE "${plain}" "${page}")
# Debian ships manual pages compressed, with no name or time stamp inside.
execute_process(COMMAND gzip -9nc INPUT_FILE "${plain}" OUTPUT_FILE "${OUTPUT}" COMMAND_ERROR_IS_FATAL ANY)
