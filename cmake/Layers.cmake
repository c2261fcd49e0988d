# Each source folder is a library of its own, and may include only the folders below it. The
# check runs whenever one of the folder's files changes, before the library compiles, so an
# include that runs back up fails the build.
#
#   doorwarden_layer(<target> <folder> [RECURSE] MAY_INCLUDE <folder>...)
#
# The layers' order is in cmake/LayerOrder.cmake; a top folder with sources outside it fails the
# configuration (cmake/CheckTopFolders.cmake).
#
# RECURSE checks the folder's subfolders too (for a layer whose subfolders belong to it).
# A folder in MAY_INCLUDE covers its own headers; "<folder>/*" covers its subfolders as well.
# The library's own folder is always allowed (without its subfolders).
include(${CMAKE_CURRENT_LIST_DIR}/CheckTopFolders.cmake)
doorwarden_check_top_folders(${PROJECT_SOURCE_DIR})

function(doorwarden_layer target folder)
  cmake_parse_arguments(ARG "RECURSE" "" "MAY_INCLUDE" ${ARGN})
  set(glob GLOB)
  if(ARG_RECURSE)
    set(glob GLOB_RECURSE)
  endif()
  file(${glob} files CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp
       ${PROJECT_SOURCE_DIR}/${folder}/*.h.in)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.layer-checked)
  list(JOIN ARG_MAY_INCLUDE "," allowed)
  list(JOIN files "," checked)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DFOLDER=${folder} "-DALLOWED=${folder},${allowed}" "-DFILES=${checked}"
            -DSTAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake
    DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake ${PROJECT_SOURCE_DIR}/cmake/LayerOrder.cmake
    COMMENT "Checking the includes of ${folder}/"
    VERBATIM)
  add_custom_target(${target}_layer_check DEPENDS ${stamp})
  add_dependencies(${target} ${target}_layer_check)
endfunction()
