# SPDX-License-Identifier: MIT
# A test run in parts (merovask_test's PARTS): the functions the parts name must be exactly the test's own,
# so that none is left out when a function is added, and none is named that is not there.
#   cmake -DTEST=EXECUTABLE "-DFUNCTIONS=NAME NAME..." -P parts.cmake
execute_process(COMMAND ${TEST} -functions OUTPUT_VARIABLE listed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TEST} -functions failed (${status})")
endif()
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*\\(\\)" own "${listed}")
list(TRANSFORM own REPLACE "\\(\\)$" "")
string(REGEX MATCHALL "[^ \t\n]+" named "${FUNCTIONS}")
set(missing ${own})
list(REMOVE_ITEM missing ${named})
set(unknown ${named})
list(REMOVE_ITEM unknown ${own})
if(missing OR unknown)
  message(FATAL_ERROR "${TEST}: in no part: ${missing}; named but not a function: ${unknown}")
endif()
list(LENGTH own count)
message(STATUS "${count} functions, each in a part")
