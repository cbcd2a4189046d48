# The per-suite harness's self-test (cmake -P): registers the suite_outcomes program as PER_SUITE does, beside
# a program that was never built, runs CTest on them and checks that each case counts as it ended. Inputs:
# TEST_EXECUTABLE, RESULT_TOOL, GTEST_SUITES (cmake/GTestSuites.cmake), CTEST_COMMAND, WORK_DIR, SOURCE (the
# program's source file).

cmake_policy(SET CMP0057 NEW) # if(... IN_LIST ...)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -D "TEST_EXECUTABLE=${TEST_EXECUTABLE}" -D "CTEST_FILE=${WORK_DIR}/suites.cmake"
          -D "WORKING_DIR=${WORK_DIR}" -D "RESULT_TOOL=${RESULT_TOOL}" -D "RESULT_DIR=${WORK_DIR}/results"
          -D RUN_TIMEOUT=60 -D CASE_TIMEOUT=5 -D LABELS= -D ONE_RUN= -D LAUNCHER= -P "${GTEST_SUITES}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "GTestSuites.cmake failed (${status})")
endif()
get_filename_component(cmake_dir "${GTEST_SUITES}" DIRECTORY)
include("${cmake_dir}/GTestSuitesInclude.cmake")
cv_gtest_runs_include("${WORK_DIR}/outcomes.cmake" "${WORK_DIR}/suites.cmake" outcomes "${WORK_DIR}" "")
cv_gtest_runs_include("${WORK_DIR}/unbuilt.cmake" "${WORK_DIR}/never_written.cmake" unbuilt "${WORK_DIR}" "")
file(WRITE "${WORK_DIR}/CTestTestfile.cmake" "include(outcomes.cmake)\ninclude(unbuilt.cmake)\n")
execute_process(
  COMMAND "${CTEST_COMMAND}" -j1 --output-on-failure
  WORKING_DIRECTORY "${WORK_DIR}"
  OUTPUT_VARIABLE out
  ERROR_VARIABLE out)

# Each CTest test and how CTest reports it.
set(expected
    "Mixed=Passed"
    "Mixed.Passes=Passed"
    "Mixed.Skips=Skipped"
    "Mixed.Fails=Failed"
    "Mixed.DISABLED_Waits=Not Run (Disabled)"
    "Every/Skipped=Skipped"
    "Every/Skipped.Always/0=Skipped"
    "Every/Skipped.Always/1=Skipped"
    "DISABLED_Parked=Not Run (Disabled)"
    "DISABLED_Parked.Waits=Not Run (Disabled)"
    "BrokenSetUp=Failed"
    "BrokenSetUp.Runs=Not Run"
    "TornDown=Failed"
    "TornDown.Passes=Not Run"
    "unbuilt_NOT_BUILT=Failed")
# A lone "]" in the output (a message's) would stop a CMake list from splitting at the ";" that follow it.
string(REPLACE "[" "(" lines "${out}")
string(REPLACE "]" ")" lines "${lines}")
string(REPLACE "\n" ";" lines "${lines}")
set(seen "")
foreach(line IN LISTS lines)
  if(line MATCHES "Test +#[0-9]+: ([^ ]+) \\.+ *(\\*\\*\\*)?([A-Za-z ()]*[A-Za-z)]) +[0-9.]+ sec")
    list(APPEND seen "${CMAKE_MATCH_1}=${CMAKE_MATCH_3}")
  endif()
endforeach()
set(errors "")
foreach(item IN LISTS expected)
  if(NOT item IN_LIST seen)
    string(APPEND errors "expected ${item}\n")
  endif()
endforeach()
list(LENGTH expected expected_count)
list(LENGTH seen seen_count)
if(NOT seen_count EQUAL expected_count)
  string(APPEND errors "expected ${expected_count} tests, CTest ran ${seen_count}\n")
endif()
# The failed case's test ends with its whole message as the report holds it (the run's own output, which
# also holds it, ends with GoogleTest's summary), the skipped one says why in CTest's log; a failure outside
# every case is shown by the run; the skipped and disabled ones are listed as not run, and CTest's summary
# line counts the skipped ones among its total (corvalinth's test command subtracts them).
file(READ "${WORK_DIR}/Testing/Temporary/LastTest.log" log)
foreach(text "a <marked> & \"quoted\" {braced} message</testcase> ]]> <![CDATA[\nwith a second line…\n\n<end of output>"
             "the suite's set-up failed" "A failure outside every test case" "the environment's tear-down failed"
             "6 tests failed out of 12"
             "Mixed.Skips (Skipped)" "DISABLED_Parked (Disabled)"
             "Skipped: ${SOURCE}:" "nothing to check here"
             "unbuilt has not been built, so its tests are not listed")
  string(FIND "${out}${log}" "${text}" at)
  if(at EQUAL -1)
    string(APPEND errors "CTest's output lacks: ${text}\n")
  endif()
endforeach()
if(errors)
  message(FATAL_ERROR "${errors}CTest's output:\n${out}")
endif()
