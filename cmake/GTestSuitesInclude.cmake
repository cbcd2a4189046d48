# cv_gtest_runs_include(<include file> <test list> <program> <build dir> <labels>): writes the file that CTest
# includes for a program's runs (cmake/GTestSuites.cmake writes the list after each build). As
# gtest_discover_tests does, it includes the list only when the list exists; until then, as after a partial
# build, a test named <program>_NOT_BUILT fails saying so, and every other program's tests still run.
function(cv_gtest_runs_include include_file list_file program build_dir labels)
  set(message "${program} has not been built, so its tests are not listed: build it"
              " (cmake --build ${build_dir} --target ${program}) to run them.")
  string(JOIN "" message ${message})
  set(label_property "")
  if(labels)
    set(label_property " LABELS [==[${labels}]==]")
  endif()
  # The echo succeeds, so WILL_FAIL makes its test fail, showing the sentence.
  file(WRITE "${include_file}"
       "if(EXISTS [==[${list_file}]==])\n"
       "  include([==[${list_file}]==])\n"
       "else()\n"
       "  add_test([==[${program}_NOT_BUILT]==] [==[${CMAKE_COMMAND}]==] -E echo [==[${message}]==])\n"
       "  set_tests_properties([==[${program}_NOT_BUILT]==] PROPERTIES WILL_FAIL TRUE${label_property})\n"
       "endif()\n")
endfunction()
