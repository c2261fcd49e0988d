# Fails when a folder at the top of the repository holds C++ sources (.h or .cpp, at any depth)
# but is neither a layer nor a folder built on them (cmake/LayerOrder.cmake): the include check
# would take its headers for a library's and let every layer include them.
#
# Included by cmake/Layers.cmake, which checks the repository at configure time (the globs are
# CONFIGURE_DEPENDS, so a new folder is checked at the next build); `cmake -DROOT=<folder> -P`
# checks another tree (the layer tests). Hidden folders and build folders (those holding a
# CMakeCache.txt, or CMakeFiles/ while their first configuration runs: CMake writes its compiler
# probes' sources there before the cache) are not sources.
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/LayerOrder.cmake)

function(doorwarden_check_top_folders root)
  set(depends CONFIGURE_DEPENDS)
  if(CMAKE_SCRIPT_MODE_FILE)
    set(depends "") # only a configured project can glob again at build time
  endif()
  file(GLOB entries ${depends} LIST_DIRECTORIES true RELATIVE ${root} ${root}/*)
  list(SORT entries)
  set(unknown "")
  foreach(folder IN LISTS entries)
    if(NOT IS_DIRECTORY ${root}/${folder} OR folder MATCHES "^\\." OR EXISTS ${root}/${folder}/CMakeCache.txt
       OR EXISTS ${root}/${folder}/CMakeFiles OR "${root}/${folder}" STREQUAL "${CMAKE_BINARY_DIR}"
       OR folder IN_LIST DOORWARDEN_LAYERS OR folder IN_LIST DOORWARDEN_BUILT_ON_LAYERS)
      continue()
    endif()
    file(GLOB_RECURSE sources ${depends} ${root}/${folder}/*.h ${root}/${folder}/*.cpp)
    if(sources)
      list(APPEND unknown "${folder}/")
    endif()
  endforeach()
  if(unknown)
    list(JOIN unknown " " named)
    message(FATAL_ERROR "Top folders with C++ sources that are not layers: ${named} (place each in the "
                        "layer order of cmake/LayerOrder.cmake, or among the folders built on the layers)")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  doorwarden_check_top_folders(${ROOT})
endif()
