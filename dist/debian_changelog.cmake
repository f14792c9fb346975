# SPDX-License-Identifier: MIT
# Makes the package's Debian changelog from CHANGELOG.md, at build time:
#   cmake -DIN=CHANGELOG.md -DOUT=FILE -DPACKAGE=NAME -DVERSION=V -DMAINTAINER="Name <mail>" -P this
# "## V (YYYY-MM-DD)" starts an entry, "- " an item, two spaces continue it. Anything else after the first
# heading is refused rather than left out, and so is a line that would pass Debian's 80 columns.

file(STRINGS "${IN}" lines ENCODING UTF-8)
set(out "")
set(entry "")
set(first TRUE)
set(n 0)

function(close_entry)
  if(entry_version)
    # Debian's dates are RFC 2822, with the day of the week; date(1) knows the calendar.
    execute_process(COMMAND date -u -R -d "${entry_date} 00:00:00 UTC"
      OUTPUT_VARIABLE stamp OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(APPEND out "${PACKAGE} (${entry_version}) unstable; urgency=medium\n\n${entry}\n"
      " -- ${MAINTAINER}  ${stamp}\n")
    set(out "${out}" PARENT_SCOPE)
  endif()
endfunction()

foreach(line IN LISTS lines)
  math(EXPR n "${n} + 1")
  if(line MATCHES "^## ([0-9][0-9A-Za-z.+~]*) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")
    close_entry()
    if(entry_version)
      string(APPEND out "\n")
    endif()
    set(entry_version "${CMAKE_MATCH_1}")
    set(entry_date "${CMAKE_MATCH_2}")
    set(entry "")
    if(first AND NOT entry_version STREQUAL VERSION)
      message(FATAL_ERROR "${IN}:${n}: the newest entry is ${entry_version}, the project's version ${VERSION}")
    endif()
    set(first FALSE)
  elseif(NOT entry_version OR line STREQUAL "")
    # The file's own introduction, and blank lines.
  elseif(line MATCHES "^- (.+)$")
    string(APPEND entry "  * ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^  ([^ ].*)$")
    string(APPEND entry "    ${CMAKE_MATCH_1}\n")
  else()
    message(FATAL_ERROR "${IN}:${n}: neither an entry, an item nor its continuation: ${line}")
  endif()
  string(LENGTH "${line}" width)
  if(entry_version AND width GREATER 76)
    message(FATAL_ERROR "${IN}:${n}: longer than 76 characters")
  endif()
endforeach()
close_entry()
if(first)
  message(FATAL_ERROR "${IN}: no entry")
endif()
file(WRITE "${OUT}" "${out}")
