# libFuzzer targets: one folder per target under testing/fuzz/ (see
# testing/fuzz/README.md for the pattern).
#
#   tavix_fuzz_target(NAME SOURCES target.cpp ... DEPS lib ...)
#     An executable fuzz_NAME in <build>/bin whose sources define
#     LLVMFuzzerTestOneInput (and may define LLVMFuzzerInitialize).
#     Builds without TAVIX_FUZZ (g++) link it with a replay driver; the CTest
#     entry fuzz.NAME.replay runs every file of the folder's corpus/ and
#     regressions/ once. With TAVIX_FUZZ=ON (the instrumented clang tree,
#     scripts/build --asan) it is a libFuzzer program, and its CTest entry
#     replays the same folders through libFuzzer (-runs=0).
#   The custom target fuzz_targets builds them all.
#
# TAVIX_FUZZ (set in the top-level CMakeLists.txt) also turns on the address,
# undefined-behaviour and leak sanitizers: one clang tree serves the
# sanitizer tests and the fuzzer. Every library is compiled once with
# libFuzzer's coverage hooks but without its main; the test programs link
# without libFuzzer (the sanitizer runtime's no-op hooks stand in), the fuzz
# targets with it.
if(TAVIX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TAVIX_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++ (scripts/build --asan does)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

add_custom_target(fuzz_targets)

function(tavix_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  set(target fuzz_${name})
  set(inputs ${CMAKE_CURRENT_SOURCE_DIR}/corpus ${CMAKE_CURRENT_SOURCE_DIR}/regressions)
  if(TAVIX_FUZZ)
    add_executable(${target} ${ARG_SOURCES})
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    # libFuzzer stops on a folder that does not exist (git keeps no empty one).
    foreach(folder IN LISTS inputs)
      if(NOT IS_DIRECTORY ${folder})
        list(REMOVE_ITEM inputs ${folder})
      endif()
    endforeach()
    add_test(NAME fuzz.${name}.replay COMMAND ${target} -runs=0 ${inputs})
  else()
    add_executable(${target} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/testing/fuzz/internal/ReplayMain.cpp)
    add_test(NAME fuzz.${name}.replay COMMAND ${target} ${inputs})
  endif()
  set_tests_properties(fuzz.${name}.replay PROPERTIES TIMEOUT 300)
  _tavix_common(${target})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} Threads::Threads)
  add_dependencies(fuzz_targets ${target})
endfunction()
