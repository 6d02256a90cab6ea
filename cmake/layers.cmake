# The library's layers. Each folder under src/ is one library that links only the layers below it,
# and an include that runs up the layers does not compile:
#
#   api       -> camera
#   camera    -> dialogs, output, device, settings, imaging, common; the public header
#   dialogs   -> settings, common
#   output    -> imaging, common
#   device    -> common
#   imaging, settings, common: the ground (common is headers only)
#
# How: a layer's headers are reachable as "<folder>/<file>.h" only through a folder made for the
# layer in the build tree, layers/<layer>/, which holds one link named like the source folder
# (layers/device/device -> src/device). That folder is the layer's public include directory, so
# a target finds "device/..." only when it links the device layer, itself or through the layers
# it links. Sources are globbed, so new files in a folder need no change here.

set(QELVAN_LAYER_ROOT ${CMAKE_BINARY_DIR}/layers)

# qelvan_layer(NAME
#   [FOLDERS dir...]     source folders under src/ whose headers the layer offers (default NAME);
#                        the first one holds its sources
#   [INTERFACE]          headers only
#   [SOURCES file...]    these sources of the folder instead of all of them
#   [EXCLUDE file...]    sources of the folder that are not part of the library
#   [DEPS layer...]      the layers below that it uses
#   [PUBLIC_HEADER]      may include the public header, include/QelvanSdk.h
#   [BUILT_INTO layer])  compile the sources inside that (higher) layer instead: for code that
#                        still includes upward, until it no longer does
# Makes the target qelvan_<NAME> and sets QELVAN_LAYER_SOURCES in the caller's scope.
function(qelvan_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "INTERFACE;PUBLIC_HEADER" "BUILT_INTO"
                        "FOLDERS;SOURCES;EXCLUDE;DEPS")
  if(NOT arg_FOLDERS)
    set(arg_FOLDERS ${name})
  endif()
  set(target qelvan_${name})

  # The layer's include folder: one link per source folder.
  set(root ${QELVAN_LAYER_ROOT}/${name})
  file(MAKE_DIRECTORY ${root})
  foreach(folder ${arg_FOLDERS})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()

  set(sources "")
  if(NOT arg_INTERFACE)
    list(GET arg_FOLDERS 0 home)
    if(arg_SOURCES)
      list(TRANSFORM arg_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/src/${home}/ OUTPUT_VARIABLE sources)
    else()
      file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${home}/*.cpp)
    endif()
    foreach(file ${arg_EXCLUDE})
      list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/src/${home}/${file})
    endforeach()
  endif()
  set(QELVAN_LAYER_SOURCES ${sources} PARENT_SCOPE)

  set(deps "")
  foreach(dep ${arg_DEPS})
    list(APPEND deps qelvan_${dep})
  endforeach()

  if(arg_INTERFACE OR arg_BUILT_INTO)
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${root})
    target_link_libraries(${target} INTERFACE ${deps} qelvan_layer_flags)
    if(arg_PUBLIC_HEADER)
      target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR}/include)
    endif()
    if(arg_BUILT_INTO)
      # Picked up by qelvan_layer(<BUILT_INTO> ...), which comes later.
      set_property(GLOBAL APPEND PROPERTY QELVAN_GUEST_SOURCES_${arg_BUILT_INTO} ${sources})
    endif()
    return()
  endif()

  get_property(guests GLOBAL PROPERTY QELVAN_GUEST_SOURCES_${name})
  add_library(${target} STATIC ${sources} ${guests})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${deps} qelvan_layer_flags)
  if(arg_PUBLIC_HEADER)
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/include)
  endif()
  qelvan_warnings(${target})
endfunction()

# The include folder of a layer, for a second build of its sources (the native benchmarks').
function(qelvan_layer_include_dir name out)
  set(${out} ${QELVAN_LAYER_ROOT}/${name} PARENT_SCOPE)
endfunction()

# Settings every layer and everything that links one shares.
add_library(qelvan_layer_flags INTERFACE)
if(WIN32)
  target_compile_definitions(qelvan_layer_flags INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX
                             _WIN32_WINNT=0x0601)
  target_compile_options(qelvan_layer_flags INTERFACE ${QELVAN_CODE_FLAGS})
  target_link_libraries(qelvan_layer_flags INTERFACE user32 gdi32 advapi32 winmm)
else()
  target_compile_options(qelvan_layer_flags INTERFACE ${QELVAN_SANITIZE})
  target_link_options(qelvan_layer_flags INTERFACE ${QELVAN_SANITIZE})
endif()
