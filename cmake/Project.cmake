# Shared helpers for the project's module targets.
#
#   tavix_module(NAME SOURCES a.cpp ... [DEPS target ...] [PRIVATE_DEPS ...])
#     A static library from one module folder. Headers are included by their
#     path from the repository root: #include "platform/values/Value.h".
#   tavix_tests(NAME SOURCES tests/a.cpp ... [DEPS target ...])
#     A gtest executable NAME in <build>/bin, each test case its own CTest
#     entry (discovered when ctest runs, so building stays fast).
#   tavix_executable(NAME SOURCES ... [DEPS ...])

# A test's time limit only catches hangs. It is the same in every tree: the
# test command runs a tree's tests beside the next tree's build, and a real
# download that takes 25 s on an idle machine took 90 s on a crowded one.
set(TAVIX_TEST_TIMEOUT 300)

set(TAVIX_WARNINGS -Wall -Wextra -Werror -Wno-missing-field-initializers)
# The sanitizer trees compile what the normal tree compiles with -Werror;
# their own warnings (clang's, or g++'s at another optimisation level) are
# shown but do not stop the build.
if(TAVIX_SANITIZE OR TAVIX_SANITIZE_THREAD)
  list(REMOVE_ITEM TAVIX_WARNINGS -Werror)
endif()

if(TAVIX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  # Position-dependent programs: a position-independent one applies millions
  # of relocations of the sanitizer's metadata at every start (1.5 s per run
  # of a probe instead of 0.5 s).
  add_link_options(-fsanitize=address,undefined -no-pie)
endif()
if(TAVIX_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

function(_tavix_common target)
  target_compile_options(${target} PRIVATE ${TAVIX_WARNINGS})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

function(tavix_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    _tavix_common(${name})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

function(tavix_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  _tavix_common(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()

function(tavix_tests name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  _tavix_common(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} testing_main Threads::Threads)
  # Tests find fixtures and the built programs through testing/BuildPaths.h.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    TEST_PREFIX "${name}."
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
               TIMEOUT ${TAVIX_TEST_TIMEOUT})
endfunction()

function(tavix_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  _tavix_common(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark Threads::Threads)
endfunction()
include(${CMAKE_CURRENT_LIST_DIR}/Fuzz.cmake)
