# Warnings, sanitizers and the helpers the subdirectories use.
add_library(lumora_warnings INTERFACE)
target_compile_options(lumora_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wformat=2
  -Wimplicit-fallthrough -Wnull-dereference
  $<$<BOOL:${LUMORA_WERROR}>:-Werror>)
# Clang checks the locks against the fields and functions annotated with platform/ThreadSafety.h.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(lumora_warnings INTERFACE -Wthread-safety)
endif()

if(LUMORA_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  if(LUMORA_FUZZ)
    # Coverage feedback for the fuzzing engine in every object; only the targets link it.
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
elseif(LUMORA_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT LUMORA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "LUMORA_SANITIZE must be empty, address or thread")
endif()

# Each test gets a device block of its own, named after the build tree, the subsystem and the
# test, so tests running side by side (or another build's) never share rows.
function(lumora_test_block_name out subsystem)
  string(MD5 tree "${CMAKE_BINARY_DIR}")
  string(SUBSTRING "${tree}" 0 12 tree)
  set(${out} "/lumora-test-${tree}-${subsystem}" PARENT_SCOPE)
endfunction()

# The simulated bus of test `name` in this build tree: test processes claim simulated cameras
# as processes claim real ones, so tests that run side by side each need a bus of their own.
function(lumora_test_sim_bus out name)
  string(MD5 tree "${CMAKE_BINARY_DIR}")
  string(SUBSTRING "${tree}" 0 12 tree)
  set(${out} "test-${tree}-${name}" PARENT_SCOPE)
endfunction()

include(GoogleTest)

# lumora_discover_tests(<target> <subsystem> [TIMEOUT <s>] [SERIAL <regex>] [RACE <regex>]
#                       [ENVIRONMENT <var=value>...]):
# registers every case of a GoogleTest program with CTest as <subsystem>.<Suite>.<Case>, with the
# subsystem as its label, so `ctest -L <subsystem>` runs one layer and a failure names its case.
# Each case runs in a process of its own, with a settings folder and a device block of its own
# (cases of one program may run side by side). The cases are listed when CTest runs, through
# the target's CROSSCOMPILING_EMULATOR when it has one, not when the program is built. Cases
# whose <Suite>.<Case> matches SERIAL run with no other test beside them; those matching RACE
# get the label `race` as well (races whose faults only the sanitizer builds see).
function(lumora_discover_tests target subsystem)
  cmake_parse_arguments(arg "" "TIMEOUT;SERIAL;RACE" "ENVIRONMENT" ${ARGN})
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 600)
  endif()
  gtest_discover_tests(${target}
    TEST_PREFIX "${subsystem}."
    EXTRA_ARGS --gtest_color=no
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    TEST_LIST ${target}_TESTS
    NO_PRETTY_VALUES
    PROPERTIES LABELS ${subsystem} TIMEOUT ${arg_TIMEOUT})
  # The discovery flattens list-valued properties, so the environment is set on the listed cases
  # by a script CTest reads after the list.
  set(TARGET ${target})
  set(SUBSYSTEM ${subsystem})
  set(HOME "${CMAKE_BINARY_DIR}/test-config/${subsystem}")
  set(SERIAL "${arg_SERIAL}")
  set(RACE "${arg_RACE}")
  lumora_test_block_name(BLOCK ${subsystem})
  lumora_test_sim_bus(BUS ${subsystem})
  set(EXTRA "")
  foreach(entry IN LISTS arg_ENVIRONMENT)
    string(APPEND EXTRA " [==[${entry}]==]")
  endforeach()
  file(READ "${PROJECT_SOURCE_DIR}/cmake/TestEnvironment.cmake.in" template)
  string(CONFIGURE "${template}" script @ONLY)
  set(file "${CMAKE_CURRENT_BINARY_DIR}/${target}_environment.cmake")
  file(GENERATE OUTPUT "${file}" CONTENT "${script}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${file}")
endfunction()

# lumora_add_test(<subsystem> <sources...>): one GoogleTest program per subsystem folder, its
# cases registered one by one (above). LUMORA_TEST_ENVIRONMENT_<subsystem> adds to their
# environment; LUMORA_TEST_SERIAL_<subsystem> names the cases that must run alone and
# LUMORA_TEST_RACE_<subsystem> those labelled `race`.
function(lumora_add_test subsystem)
  set(target test_${subsystem})
  add_executable(${target} ${ARGN} ${PROJECT_SOURCE_DIR}/tests/PrivateSimBus.cpp)
  target_link_libraries(${target} PRIVATE lumora_core lumora_warnings GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(NOT WIN32)
    # X11TestDisplay.h keeps test windows' contents apart through the Composite extension.
    target_link_libraries(${target} PRIVATE X11::Xcomposite)
  elseif(CMAKE_CROSSCOMPILING_EMULATOR)
    # Under Wine, a case that dies or is not started says with which status.
    set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR
      "${PROJECT_SOURCE_DIR}/tests/windows/run-case.sh;${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  lumora_discover_tests(${target} ${subsystem} SERIAL "${LUMORA_TEST_SERIAL_${subsystem}}"
    RACE "${LUMORA_TEST_RACE_${subsystem}}" ENVIRONMENT ${LUMORA_TEST_ENVIRONMENT_${subsystem}})
endfunction()

# Windows: the C and C++ runtimes and the thread library go inside each binary, so the DLL and
# the programs import only DLLs every Windows has.
# The DLL and every program land in one folder, where Windows (and Wine) look for a program's
# DLLs first.
if(WIN32)
  add_link_options(-static)
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endif()
