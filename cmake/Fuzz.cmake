# libFuzzer targets: one folder per target under testing/fuzz/ (see
# testing/fuzz/README.md for the pattern).
#
#   tavix_fuzz_target(NAME SOURCES target.cpp ... DEPS lib ...)
#     An executable fuzz_NAME in <build>/bin whose sources define
#     LLVMFuzzerTestOneInput (and may define LLVMFuzzerInitialize).
#     Normal builds (g++, also the sanitizer tree) link it with a replay
#     driver and add the CTest entry fuzz.NAME.replay, which runs every file
#     of the folder's corpus/ and regressions/ once. With TAVIX_FUZZ=ON (a
#     clang build, made by scripts/fuzz) it is a libFuzzer program, and every
#     library is compiled with coverage, address and undefined sanitizers.
#   The custom target fuzz_targets builds them all.
option(TAVIX_FUZZ "Build the libFuzzer targets with clang (scripts/fuzz)" OFF)

if(TAVIX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TAVIX_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++ (scripts/fuzz does)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  # clang warns about other things than g++; the g++ build keeps -Werror.
  list(REMOVE_ITEM TAVIX_WARNINGS -Werror)
endif()

add_custom_target(fuzz_targets)

function(tavix_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  set(target fuzz_${name})
  if(TAVIX_FUZZ)
    add_executable(${target} ${ARG_SOURCES})
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${target} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/testing/fuzz/internal/ReplayMain.cpp)
    add_test(NAME fuzz.${name}.replay
             COMMAND ${target} ${CMAKE_CURRENT_SOURCE_DIR}/corpus ${CMAKE_CURRENT_SOURCE_DIR}/regressions)
    set_tests_properties(fuzz.${name}.replay PROPERTIES TIMEOUT 300)
  endif()
  _tavix_common(${target})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} Threads::Threads)
  add_dependencies(fuzz_targets ${target})
endfunction()
