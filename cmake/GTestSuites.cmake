# Run after a test program is built (cmake -P): lists its test cases and writes a CTest file with one test
# per test suite, "Suite" running --gtest_filter=Suite.*. Every suite the program lists is registered,
# so no case can be left out. Inputs: TEST_EXECUTABLE, CTEST_FILE, WORKING_DIR, TIMEOUT, LABELS (may be
# empty).

execute_process(
  COMMAND "${TEST_EXECUTABLE}" --gtest_list_tests
  WORKING_DIRECTORY "${WORKING_DIR}"
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE status
  TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} --gtest_list_tests failed (${status}):\n${listing}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(suites "")
foreach(line IN LISTS lines)
  # A suite line starts in the first column and ends with a dot, perhaps followed by a comment
  # ("Suite.  # TypeParam = int"); case lines are indented.
  if(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
    list(APPEND suites "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT suites)
  message(FATAL_ERROR "${TEST_EXECUTABLE} lists no test suites:\n${listing}")
endif()

set(content "")
foreach(suite IN LISTS suites)
  string(APPEND content
         "add_test([==[${suite}]==] [==[${TEST_EXECUTABLE}]==] [==[--gtest_filter=${suite}.*]==])\n"
         "set_tests_properties([==[${suite}]==] PROPERTIES WORKING_DIRECTORY [==[${WORKING_DIR}]==]"
         " TIMEOUT ${TIMEOUT}")
  if(LABELS)
    string(APPEND content " LABELS [==[${LABELS}]==]")
  endif()
  string(APPEND content ")\n")
endforeach()
file(WRITE "${CTEST_FILE}" "${content}")
