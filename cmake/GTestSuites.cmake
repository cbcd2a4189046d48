# Run after a test program is built (cmake -P): lists its test cases and writes a CTest file that runs the
# program once per test suite, or per group of small suites, yet counts every case, as gtest_discover_tests
# would:
#   "Suite"       runs --gtest_filter=Suite.* through RESULT_TOOL, which keeps GoogleTest's XML result; a
#                 fixture set-up, skipped when every case it ran was skipped. A group of suites runs as
#                 "program (First to Last)" with a filter naming each of them.
#   "Suite.Case"  reads that result: passed, failed (showing the case's messages) or skipped (GTEST_SKIP).
#                 A DISABLED_ case is registered disabled, and so is a suite of only such cases.
# With ONE_RUN the whole program runs once instead, as a test named after it. Every case the program lists
# is registered, so no case can be left out.
# Inputs: TEST_EXECUTABLE, CTEST_FILE, WORKING_DIR, RESULT_TOOL, RESULT_DIR, RUN_TIMEOUT (the budget of a
# run before its cases), CASE_TIMEOUT (added for each case it runs), LABELS (may be empty), ONE_RUN (may be
# empty), LAUNCHER (a command line that runs the program, such as "xvfb-run -a", but not its listing; may
# be empty), GROUP_CASES (may be empty: one run a suite; else suites in the listing's order join one run
# until it holds at least that many cases, so that small suites share a process's start-up).

execute_process(
  COMMAND "${TEST_EXECUTABLE}" --gtest_list_tests
  WORKING_DIRECTORY "${WORKING_DIR}"
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE status
  TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} --gtest_list_tests failed (${status}):\n${listing}")
endif()

# The skip status that RESULT_TOOL gives (its kSkipped).
set(skip_code 77)
get_filename_component(program "${TEST_EXECUTABLE}" NAME)

string(REPLACE "\n" ";" lines "${listing}")
set(suites "")
foreach(line IN LISTS lines)
  # A suite line starts in the first column and ends with a dot, perhaps followed by a comment
  # ("Suite.  # TypeParam = int"); case lines are indented, perhaps followed by a comment too
  # ("  Case/0  # GetParam() = 1").
  if(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
    set(suite "${CMAKE_MATCH_1}")
    list(APPEND suites "${suite}")
    set("cases_${suite}" "")
  elseif(line MATCHES "^  ([^ ]+)( .*)?$" AND DEFINED suite)
    list(APPEND "cases_${suite}" "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT suites)
  message(FATAL_ERROR "${TEST_EXECUTABLE} lists no test suites:\n${listing}")
endif()

file(MAKE_DIRECTORY "${RESULT_DIR}")
separate_arguments(launcher UNIX_COMMAND "${LAUNCHER}")
set(launch "")
foreach(word IN LISTS launcher ITEMS "${TEST_EXECUTABLE}")
  string(APPEND launch " [==[${word}]==]")
endforeach()
set(label_property "")
if(LABELS)
  set(label_property " LABELS [==[${LABELS}]==]")
endif()
set(content "")

# add_run(<test> <filter> <cases run>): the test that runs the program once and keeps its result, as
# ${result}, which its cases' tests require as the fixture ${fixture}.
macro(add_run test filter count)
  string(REGEX REPLACE "[/ ()]" "_" result_name "${test}")
  set(result "${RESULT_DIR}/${result_name}.xml")
  set(fixture "${program}:${test}")
  math(EXPR timeout "${RUN_TIMEOUT} + ${count} * ${CASE_TIMEOUT}")
  string(APPEND content
         "add_test([==[${test}]==] [==[${RESULT_TOOL}]==] run [==[${result}]==]${launch}"
         " [==[--gtest_filter=${filter}]==])\n"
         "set_tests_properties([==[${test}]==] PROPERTIES WORKING_DIRECTORY [==[${WORKING_DIR}]==]"
         " TIMEOUT ${timeout} SKIP_RETURN_CODE ${skip_code} FIXTURES_SETUP [==[${fixture}]==]${label_property}")
  if(${count} EQUAL 0)
    string(APPEND content " DISABLED TRUE")
  endif()
  string(APPEND content ")\n")
endmacro()

set(all_enabled 0)
foreach(suite IN LISTS suites)
  set("enabled_${suite}" "")
  set("disabled_${suite}" "")
  foreach(case IN LISTS "cases_${suite}")
    if(suite MATCHES "^DISABLED_" OR case MATCHES "^DISABLED_")
      list(APPEND "disabled_${suite}" "${case}")
    else()
      list(APPEND "enabled_${suite}" "${case}")
      math(EXPR all_enabled "${all_enabled} + 1")
    endif()
  endforeach()
endforeach()
# Which run each suite's cases read: run_of_<suite> names the run's fixture and result.
if(NOT GROUP_CASES)
  set(GROUP_CASES 1)
endif()
if(ONE_RUN)
  add_run("${program}" "*" ${all_enabled})
  foreach(suite IN LISTS suites)
    set("run_of_${suite}" "${fixture};${result}")
  endforeach()
else()
  set(group "")
  set(group_cases 0)
  list(LENGTH suites last)
  math(EXPR last "${last} - 1")
  foreach(index RANGE ${last})
    list(GET suites ${index} suite)
    list(LENGTH "enabled_${suite}" count)
    if(count EQUAL 0)
      add_run("${suite}" "${suite}.*" 0) # registered disabled
      continue()
    endif()
    list(APPEND group "${suite}")
    math(EXPR group_cases "${group_cases} + ${count}")
    if(group_cases LESS GROUP_CASES AND index LESS last)
      continue()
    endif()
    list(LENGTH group size)
    list(GET group 0 first)
    if(size EQUAL 1)
      add_run("${first}" "${first}.*" ${group_cases})
    else()
      list(GET group -1 final)
      list(JOIN group ".*:" filter)
      add_run("${program} (${first} to ${final})" "${filter}.*" ${group_cases})
    endif()
    foreach(member IN LISTS group)
      set("run_of_${member}" "${fixture};${result}")
    endforeach()
    set(group "")
    set(group_cases 0)
  endforeach()
endif()
foreach(suite IN LISTS suites)
  if(DEFINED "run_of_${suite}")
    list(GET "run_of_${suite}" 0 fixture)
    list(GET "run_of_${suite}" 1 result)
  endif()
  foreach(case IN LISTS "enabled_${suite}")
    string(APPEND content
           "add_test([==[${suite}.${case}]==] [==[${RESULT_TOOL}]==] report [==[${result}]==] [==[${suite}]==]"
           " [==[${case}]==])\n"
           "set_tests_properties([==[${suite}.${case}]==] PROPERTIES TIMEOUT 30 SKIP_RETURN_CODE ${skip_code}"
           " FIXTURES_REQUIRED [==[${fixture}]==]${label_property})\n")
  endforeach()
  foreach(case IN LISTS "disabled_${suite}")
    string(APPEND content
           "add_test([==[${suite}.${case}]==] [==[${TEST_EXECUTABLE}]==] [==[--gtest_filter=${suite}.${case}]==]"
           " --gtest_also_run_disabled_tests)\n"
           "set_tests_properties([==[${suite}.${case}]==] PROPERTIES DISABLED TRUE${label_property})\n")
  endforeach()
endforeach()
file(WRITE "${CTEST_FILE}" "${content}")
