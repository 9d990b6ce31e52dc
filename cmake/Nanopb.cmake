# Wire messages: .proto files turned into nanopb C code at build time.
#
#   tavix_nanopb_library(NAME PROTO path/x.proto [OPTIONS path/x.options])
#
# Makes the static library NAME from the code that Debian's nanopb generator
# writes for x.proto into <build>/generated/<NAME>/ (x.pb.h and x.pb.c; never
# checked in). Include it as "x.pb.h". The descriptor set is compiled by
# Debian's protoc and the generator runs on Debian's own python3, each by its
# full path: the first python3 on PATH may lack the protobuf module.
#
# Everything that includes pb.h must see PB_ENABLE_MALLOC (Debian's library is
# built with it), so the library exports that definition; PB_FIELD_32BIT is
# never defined, or the generated descriptors would no longer match the
# library's 16-bit pb_size_t layout. The library links Debian's
# nanopb::protobuf-nanopb-static, or the runtime built from Debian's source in
# the instrumented tree (cmake/InstrumentedLibraries.cmake).
include_guard(GLOBAL)

# This file is included once (guard above) from whichever folder needs it
# first; the imported library and the tool paths (cache entries below) must
# be visible to every other folder too.
if(NOT TAVIX_NANOPB_RUNTIME)
  find_package(nanopb CONFIG REQUIRED)
  set_target_properties(nanopb::protobuf-nanopb-static PROPERTIES IMPORTED_GLOBAL TRUE)
  set(TAVIX_NANOPB_RUNTIME nanopb::protobuf-nanopb-static CACHE INTERNAL "")
endif()

set(TAVIX_PROTOC /usr/bin/protoc CACHE INTERNAL "")
set(TAVIX_NANOPB_PYTHON /usr/bin/python3 CACHE INTERNAL "")
set(TAVIX_NANOPB_GENERATOR /usr/bin/nanopb_generator.py CACHE INTERNAL "")
# nanopb.proto and the descriptor.proto it imports, shipped with the generator.
set(TAVIX_NANOPB_PROTO_DIR /usr/lib/python3/dist-packages/proto CACHE INTERNAL "")
foreach(tool TAVIX_PROTOC TAVIX_NANOPB_PYTHON TAVIX_NANOPB_GENERATOR)
  if(NOT EXISTS ${${tool}})
    message(FATAL_ERROR "${${tool}} is missing: run scripts/setup (protobuf-compiler, nanopb, python3-protobuf)")
  endif()
endforeach()

function(tavix_nanopb_library name)
  cmake_parse_arguments(ARG "" "PROTO;OPTIONS" "" ${ARGN})
  get_filename_component(proto ${ARG_PROTO} ABSOLUTE)
  get_filename_component(proto_dir ${proto} DIRECTORY)
  get_filename_component(stem ${proto} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/generated/${name})
  set(descriptor ${out}/${stem}.pb)
  set(generator_args -q -D ${out})
  set(depends ${proto})
  if(ARG_OPTIONS)
    get_filename_component(options ${ARG_OPTIONS} ABSOLUTE)
    list(APPEND generator_args -f ${options})
    list(APPEND depends ${options})
  endif()

  add_custom_command(
    OUTPUT ${out}/${stem}.pb.c ${out}/${stem}.pb.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${TAVIX_PROTOC} -I${proto_dir} -I${TAVIX_NANOPB_PROTO_DIR} -o${descriptor} ${proto}
    COMMAND ${CMAKE_COMMAND} -E env PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION=python
            ${TAVIX_NANOPB_PYTHON} ${TAVIX_NANOPB_GENERATOR} ${generator_args} ${descriptor}
    DEPENDS ${depends}
    COMMENT "nanopb: generating ${stem}.pb.c and ${stem}.pb.h"
    VERBATIM)

  add_library(${name} STATIC ${out}/${stem}.pb.c ${out}/${stem}.pb.h)
  target_include_directories(${name} PUBLIC ${out})
  target_compile_definitions(${name} PUBLIC PB_ENABLE_MALLOC=1)
  target_link_libraries(${name} PUBLIC ${TAVIX_NANOPB_RUNTIME})
endfunction()
