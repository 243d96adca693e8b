# Warnings, sanitizers and the helpers the subdirectories use.
add_library(lumora_warnings INTERFACE)
target_compile_options(lumora_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wformat=2
  -Wimplicit-fallthrough -Wnull-dereference
  $<$<BOOL:${LUMORA_WERROR}>:-Werror>)

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

# Each test program gets a device block of its own, named after the build tree and the
# subsystem, so test programs running side by side (or another build's) never share rows.
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

# lumora_add_test(<subsystem> <sources...>): one GoogleTest program per subsystem folder,
# labelled with the subsystem so `ctest -L <subsystem>` runs one layer.
function(lumora_add_test subsystem)
  set(target test_${subsystem})
  add_executable(${target} ${ARGN} ${PROJECT_SOURCE_DIR}/tests/PrivateSimBus.cpp)
  target_link_libraries(${target} PRIVATE lumora_core lumora_warnings GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${subsystem} COMMAND ${target} --gtest_color=no)
  lumora_test_block_name(block ${subsystem})
  set_tests_properties(${subsystem} PROPERTIES LABELS ${subsystem} TIMEOUT 600
    ENVIRONMENT "LUMORA_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config/${subsystem};LUMORA_SIM_CAMERAS=;LUMORA_SHM_NAME=${block}")
endfunction()
