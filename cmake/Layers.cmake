# The library layers, bottom up, and the checks that keep every link and every
# include pointing down.
#
# A layer is a rank and the source folders whose libraries belong to it. A
# library may use its own layer and any layer of a lower rank; two layers of
# one rank stand side by side and never use each other. A library in a layer
# folder that links a project library outside every layer (test support, for
# instance) breaks the rule too. Test programs, probes, benchmarks and fuzz
# targets stand above everything and are not checked.
#
#   tavix_check_library_layers(ROOT)
#     At the end of configuration: fails on a library of a layer folder below
#     ROOT whose direct links point up or sideways (every project library is
#     in a layer, so direct links cover the whole graph).
#   cmake -DTAVIX_LAYER_ROOT=<dir> -P cmake/Layers.cmake
#     Fails on a quoted #include in a layer folder's headers or sources (tests
#     left out) that names a file of a higher or a sibling layer, or of a
#     project folder outside every layer.
include_guard(GLOBAL)

# name rank folder... (folders relative to the repository root)
set(TAVIX_LAYERS
  "platform 0 platform"
  "sdk-core 1 sdk/utilities sdk/promises sdk/core sdk/data-coder"
  "sdk-services 2 sdk/installations sdk/transport sdk/messaging sdk/remote-config"
  "measurement-messages 3 measurement/messages"
  "measurement-types 4 measurement/types"
  "measurement-base 5 measurement/base"
  "measurement-features 6 measurement/features"
  "measurement-script 6 measurement/script"
  "measurement-engine 7 measurement/engine"
  "application 8 sdk/registration Tavix_YouTube resources")
# Folders of the project that hold no layer: what includes or links them from
# a layer folder points up.
set(TAVIX_UNLAYERED_FOLDERS testing bench tools)

# The layer (name and rank) of a path relative to the root; empty name and
# rank -1 when it stands in no layer.
function(tavix_layer_of_path path out_name out_rank)
  set(name "")
  set(rank -1)
  foreach(entry IN LISTS TAVIX_LAYERS)
    string(REPLACE " " ";" fields "${entry}")
    list(POP_FRONT fields layer_name layer_rank)
    foreach(folder IN LISTS fields)
      if(path STREQUAL folder OR path MATCHES "^${folder}/")
        set(name ${layer_name})
        set(rank ${layer_rank})
      endif()
    endforeach()
  endforeach()
  set(${out_name} "${name}" PARENT_SCOPE)
  set(${out_rank} ${rank} PARENT_SCOPE)
endfunction()

function(_tavix_is_unlayered path out)
  set(result FALSE)
  foreach(folder IN LISTS TAVIX_UNLAYERED_FOLDERS)
    if(path STREQUAL folder OR path MATCHES "^${folder}/")
      set(result TRUE)
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Whether a user in layer (user_name, user_rank) may use a layer (name, rank).
function(_tavix_layer_allows user_name user_rank name rank out)
  if(name STREQUAL user_name OR (NOT rank EQUAL -1 AND rank LESS user_rank))
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

function(_tavix_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _tavix_collect_targets(${sub} sub_targets)
    list(APPEND targets ${sub_targets})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(_tavix_target_layer target root out_name out_rank out_path)
  get_target_property(source_dir ${target} SOURCE_DIR)
  file(RELATIVE_PATH path ${root} ${source_dir})
  tavix_layer_of_path("${path}" name rank)
  set(${out_name} "${name}" PARENT_SCOPE)
  set(${out_rank} ${rank} PARENT_SCOPE)
  set(${out_path} "${path}" PARENT_SCOPE)
endfunction()

function(tavix_check_library_layers root)
  _tavix_collect_targets(${root} targets)
  set(problems "")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|INTERFACE_LIBRARY)$")
      continue()
    endif()
    _tavix_target_layer(${target} ${root} user_name user_rank user_path)
    if(user_name STREQUAL "")
      continue()
    endif()
    set(links "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${target} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(NOT TARGET ${link})
        continue()
      endif()
      # Outside libraries: imported, or built from their own sources in the
      # instrumented tree (cmake/InstrumentedLibraries.cmake).
      get_target_property(imported ${link} IMPORTED)
      get_target_property(outside ${link} TAVIX_OUTSIDE_LIBRARY)
      if(imported OR outside)
        continue()
      endif()
      _tavix_target_layer(${link} ${root} name rank path)
      _tavix_layer_allows(${user_name} ${user_rank} "${name}" ${rank} allowed)
      if(NOT allowed)
        if(name STREQUAL "")
          set(name "no layer")
        endif()
        string(APPEND problems "\n  ${target} (${user_name}) links ${link} (${name}, ${path})")
      endif()
    endforeach()
  endforeach()
  if(problems)
    message(FATAL_ERROR "Library links that point up or sideways:${problems}\n"
                        "Libraries link downward only: see TAVIX_LAYERS in cmake/Layers.cmake.")
  endif()
endfunction()

# The include check, in script mode.
function(tavix_check_include_layers root)
  set(problems "")
  foreach(entry IN LISTS TAVIX_LAYERS)
    string(REPLACE " " ";" fields "${entry}")
    list(POP_FRONT fields layer_name layer_rank)
    foreach(folder IN LISTS fields)
      file(GLOB_RECURSE files RELATIVE ${root} ${root}/${folder}/*.h ${root}/${folder}/*.cpp ${root}/${folder}/*.c)
      foreach(file IN LISTS files)
        if(file MATCHES "/tests/")
          continue()
        endif()
        tavix_layer_of_path("${file}" user_name user_rank)
        file(STRINGS ${root}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line IN LISTS lines)
          string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" included "${line}")
          if(NOT EXISTS ${root}/${included})
            continue()  # a file beside the includer, or a generated header
          endif()
          tavix_layer_of_path("${included}" name rank)
          _tavix_is_unlayered("${included}" unlayered)
          if(name STREQUAL "" AND NOT unlayered)
            continue()
          endif()
          _tavix_layer_allows(${user_name} ${user_rank} "${name}" ${rank} allowed)
          if(NOT allowed)
            if(name STREQUAL "")
              set(name "no layer")
            endif()
            string(APPEND problems "\n  ${file} (${user_name}) includes ${included} (${name})")
          endif()
        endforeach()
      endforeach()
    endforeach()
  endforeach()
  if(problems)
    message(FATAL_ERROR "Includes that point up or sideways:${problems}\n"
                        "Libraries use lower layers only: see TAVIX_LAYERS in cmake/Layers.cmake.")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT TAVIX_LAYER_ROOT)
    message(FATAL_ERROR "usage: cmake -DTAVIX_LAYER_ROOT=<dir> -P cmake/Layers.cmake")
  endif()
  tavix_check_include_layers(${TAVIX_LAYER_ROOT})
  message(STATUS "Every include points down")
endif()
