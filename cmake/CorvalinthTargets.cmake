# Shared helpers for the per-folder CMakeLists files. Each source folder is one static library whose
# sources are every .cpp in it, so adding a file needs no edit here.

include(${CMAKE_CURRENT_LIST_DIR}/GTestSuitesInclude.cmake)

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

set(CV_WARNINGS -Wall -Wextra -Wpedantic)

if(CV_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(CV_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT CV_SANITIZE STREQUAL "")
  message(FATAL_ERROR "CV_SANITIZE must be empty, address or thread")
endif()

macro(cv_add_existing_subdirectories)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endmacro()

# Sanitizer builds compile only what their tests check: the source folders are added outside the "all"
# target there, so a library is built only when a test program that the sanitizer runs links it.
macro(cv_add_source_subdirectories)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      if(CV_SANITIZE STREQUAL "")
        add_subdirectory(${dir})
      else()
        add_subdirectory(${dir} EXCLUDE_FROM_ALL)
      endif()
    endif()
  endforeach()
endmacro()

# cv_library(<target> [DEPS <targets...>]): a static library of the folder's .cpp files.
# The include root is the repository, so headers are included as "engine/audio/audio_buffer.h".
function(cv_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    set(scope PRIVATE)
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
  if(sources)
    target_compile_options(${target} PRIVATE ${CV_WARNINGS})
  endif()
endfunction()

# cv_tests(<area> LIBS <targets...> [ASAN all | ASAN <files...>] [PER_SUITE]): one test program per folder
# from its *_test.cpp files. Files named *_concurrency_test.cpp form a second program labelled "concurrency";
# under CV_SANITIZE=thread only those are built. Files named *_long_test.cpp form a program labelled
# "long", which CI skips. Under CV_SANITIZE=address only the files named after ASAN are built (every
# plain file with "all"): the parsers, buffers and realtime code that AddressSanitizer checks, not the
# slow signal-processing tests that would only run ten times slower there. PER_SUITE runs the program once
# per test suite instead of once per case, for programs whose every process pays for a GL context: Mesa's
# start-up costs each process about 50 ms, which would otherwise be paid again by every case. Each case is
# still its own CTest test, which reads the suite's result (cmake/GTestSuites.cmake), so that a skipped or
# disabled case counts as such.
function(cv_tests area)
  cmake_parse_arguments(ARG "PER_SUITE" "" "LIBS;ASAN" ${ARGN})
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  set(plain "")
  set(concurrent "")
  set(long "")
  foreach(f ${all})
    if(f MATCHES "_concurrency_test\\.cpp$")
      list(APPEND concurrent ${f})
    elseif(f MATCHES "_long_test\\.cpp$")
      list(APPEND long ${f})
    else()
      list(APPEND plain ${f})
    endif()
  endforeach()
  if(CV_SANITIZE STREQUAL "thread")
    set(plain "")
    set(long "")
  elseif(CV_SANITIZE STREQUAL "address")
    if(NOT ARG_ASAN STREQUAL "all")
      set(kept "")
      foreach(f ${plain})
        get_filename_component(name ${f} NAME)
        if(name IN_LIST ARG_ASAN)
          list(APPEND kept ${f})
        endif()
      endforeach()
      set(plain "${kept}")
    endif()
    set(concurrent "")
    set(long "")
  endif()
  _cv_test_program(${area}_tests "${plain}" "" "${ARG_LIBS}" ${ARG_PER_SUITE})
  _cv_test_program(${area}_concurrency_tests "${concurrent}" "concurrency" "${ARG_LIBS}" ${ARG_PER_SUITE})
  _cv_test_program(${area}_long_tests "${long}" "long" "${ARG_LIBS}" ${ARG_PER_SUITE})
endfunction()

function(_cv_test_program name files label libs perSuite)
  if(NOT files)
    return()
  endif()
  add_executable(${name} ${files})
  target_link_libraries(${name} PRIVATE ${libs} cv_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_options(${name} PRIVATE ${CV_WARNINGS})
  # A hang must fail in about ten times the slowest case's need (plain under 5 s, AddressSanitizer's Debug
  # build under 25 s, ThreadSanitizer under 8 s on a busy machine), not wait out a blanket limit. A case of
  # gtest_discover_tests is its own process and has that budget. ctest --timeout does not override a
  # TIMEOUT property.
  if(label STREQUAL "long")
    set(timeout 1200)
  elseif(CV_SANITIZE STREQUAL "address")
    set(timeout 240)
  elseif(CV_SANITIZE STREQUAL "thread")
    set(timeout 120)
  else()
    set(timeout 60)
  endif()
  if(perSuite)
    cv_gtest_runs(${name} TIMEOUT ${timeout} LABEL "${label}")
    return()
  endif()
  set(props TIMEOUT ${timeout})
  if(label)
    list(APPEND props LABELS ${label})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# cv_gtest_runs(<test program> TIMEOUT <seconds> [LABEL <label>] [ONE_RUN] [LAUNCHER <command line>]): runs
# the program once per test suite (once in all with ONE_RUN, through the launcher if any) and registers each
# case as a CTest test that reads the run's result (cmake/GTestSuites.cmake). Small suites, in the order the
# program lists them, share a run until it holds a dozen cases: each process starts Mesa and a font atlas
# once (about 70 ms), which forty separate small suites would pay forty times. A run's budget is TIMEOUT, a
# case's own budget, plus a twelfth of it for each case it runs: 60 s + 5 s a case in the plain build. Its
# slowest suites, which draw and read back whole editor frames, need up to 0.7 s a case on a quiet machine
# and up to 4 s a case on two cores of a machine loaded twenty deep (EditorRedraw: 2 cases in 8 s,
# OverlayImage: 4 in 10 s), so even there a run has eight times what it needs, and no run has less than a
# lone case had. The sanitizers scale it as they scale a case's.
function(cv_gtest_runs name)
  cmake_parse_arguments(ARG "ONE_RUN" "TIMEOUT;LABEL;LAUNCHER" "" ${ARGN})
  math(EXPR case_timeout "${ARG_TIMEOUT} / 12")
  # As gtest_discover_tests does, the list is read from the program after each build.
  set(ctest_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_runs.cmake")
  add_dependencies(${name} cv_suite_result)
  add_custom_command(
    TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -D "TEST_EXECUTABLE=$<TARGET_FILE:${name}>" -D "CTEST_FILE=${ctest_file}"
            -D "WORKING_DIR=${CMAKE_CURRENT_BINARY_DIR}" -D "RESULT_TOOL=$<TARGET_FILE:cv_suite_result>"
            -D "RESULT_DIR=${CMAKE_CURRENT_BINARY_DIR}/${name}_results" -D "RUN_TIMEOUT=${ARG_TIMEOUT}"
            -D "CASE_TIMEOUT=${case_timeout}" -D "LABELS=${ARG_LABEL}" -D "ONE_RUN=${ARG_ONE_RUN}"
            -D "LAUNCHER=${ARG_LAUNCHER}" -D GROUP_CASES=12 -P ${PROJECT_SOURCE_DIR}/cmake/GTestSuites.cmake
    VERBATIM)
  set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_include.cmake")
  cv_gtest_runs_include("${include_file}" "${ctest_file}" ${name} "${CMAKE_BINARY_DIR}" "${ARG_LABEL}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()

# cv_benchmark(<name> LIBS <targets...>): a Google Benchmark program from the folder's *_bench.cpp.
function(cv_benchmark name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_bench.cpp)
  if(NOT files)
    return()
  endif()
  add_executable(${name} ${files})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main)
  target_compile_options(${name} PRIVATE ${CV_WARNINGS})
endfunction()
