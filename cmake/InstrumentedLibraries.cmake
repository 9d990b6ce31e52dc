# Outside libraries compiled from their Debian source packages inside the
# instrumented tree (scripts/build --asan), with the tree's own sanitizer and
# fuzzer-coverage flags, so that the fuzzer gets feedback inside them and the
# address sanitizer sees their reads:
#
#   TAVIX_ZLIB_SOURCE    unpacked zlib source      -> ZLIB::ZLIB
#   TAVIX_PLIST_SOURCE   unpacked libplist source  -> PkgConfig::PLIST
#   TAVIX_NANOPB_SOURCE  unpacked nanopb source    -> TAVIX_NANOPB_RUNTIME
#
# scripts/build fetches the folders (apt-get source, the version of the
# installed -dev package) and passes them. A variable left empty keeps
# Debian's prebuilt library for that one. The names the modules link stay
# the same either way. Nothing of them is compiled with the project's
# warnings: it is code we do not change.
set(TAVIX_ZLIB_SOURCE "" CACHE PATH "zlib source folder to build instrumented (empty: Debian's library)")
set(TAVIX_PLIST_SOURCE "" CACHE PATH "libplist source folder to build instrumented (empty: Debian's library)")
set(TAVIX_NANOPB_SOURCE "" CACHE PATH "nanopb source folder to build instrumented (empty: Debian's library)")

function(_tavix_outside_library name folder)
  # Their undefined-behaviour checks may be skipped one by one through
  # testing/sanitizers/ubsan.supp (a suppression needs a recoverable check);
  # every fault not listed there still stops the run (halt_on_error=1).
  target_compile_options(${name} PRIVATE -w -fsanitize-recover=undefined)
  # Not ours: the layer check (cmake/Layers.cmake) treats it as imported.
  set_target_properties(${name} PROPERTIES TAVIX_OUTSIDE_LIBRARY TRUE)
  message(STATUS "${name}: built from ${folder}")
endfunction()

if(TAVIX_ZLIB_SOURCE)
  set(src ${TAVIX_ZLIB_SOURCE})
  add_library(instrumented_zlib STATIC
    ${src}/adler32.c ${src}/compress.c ${src}/crc32.c ${src}/deflate.c ${src}/gzclose.c ${src}/gzlib.c
    ${src}/gzread.c ${src}/gzwrite.c ${src}/infback.c ${src}/inffast.c ${src}/inflate.c ${src}/inftrees.c
    ${src}/trees.c ${src}/uncompr.c ${src}/zutil.c)
  # The definitions of zlib's own configure script on Linux.
  target_compile_definitions(instrumented_zlib PRIVATE _LARGEFILE64_SOURCE=1 HAVE_HIDDEN _REENTRANT)
  target_include_directories(instrumented_zlib SYSTEM PUBLIC ${src})
  _tavix_outside_library(instrumented_zlib ${src})
  add_library(ZLIB::ZLIB ALIAS instrumented_zlib)
endif()

if(TAVIX_PLIST_SOURCE)
  set(src ${TAVIX_PLIST_SOURCE})
  add_library(instrumented_plist STATIC
    ${src}/src/base64.c ${src}/src/bytearray.c ${src}/src/hashtable.c ${src}/src/ptrarray.c
    ${src}/src/time64.c ${src}/src/xplist.c ${src}/src/bplist.c ${src}/src/plist.c
    ${src}/libcnary/node.c ${src}/libcnary/node_list.c)
  # What libplist's configure script finds on Linux (its config.h).
  target_compile_definitions(instrumented_plist PRIVATE _GNU_SOURCE __LITTLE_ENDIAN__=1
    HAVE_STRNDUP HAVE_STRDUP HAVE_STPCPY HAVE_ASPRINTF HAVE_VASPRINTF HAVE_GMTIME_R HAVE_LOCALTIME_R
    HAVE_TIMEGM HAVE_STRPTIME HAVE_MEMMEM HAVE_TM_TM_GMTOFF HAVE_TM_TM_ZONE)
  target_include_directories(instrumented_plist PRIVATE ${src} ${src}/src ${src}/libcnary/include)
  target_include_directories(instrumented_plist SYSTEM PUBLIC ${src}/include)
  target_link_libraries(instrumented_plist PUBLIC Threads::Threads)
  _tavix_outside_library(instrumented_plist ${src})
  add_library(PkgConfig::PLIST ALIAS instrumented_plist)
endif()

if(TAVIX_NANOPB_SOURCE)
  set(src ${TAVIX_NANOPB_SOURCE})
  add_library(instrumented_nanopb STATIC ${src}/pb_common.c ${src}/pb_decode.c ${src}/pb_encode.c)
  # Debian's runtime is built with dynamic allocation (see cmake/Nanopb.cmake).
  target_compile_definitions(instrumented_nanopb PUBLIC PB_ENABLE_MALLOC=1)
  target_include_directories(instrumented_nanopb SYSTEM PUBLIC ${src})
  _tavix_outside_library(instrumented_nanopb ${src})
  set(TAVIX_NANOPB_RUNTIME instrumented_nanopb CACHE INTERNAL "")
else()
  set(TAVIX_NANOPB_RUNTIME "" CACHE INTERNAL "")
endif()
