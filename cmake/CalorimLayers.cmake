# The layers of the program as the build enforces them. Every library and
# program names the folders (ending in "/") and single headers it may include
# beside its own folders; `calorim_layer` adds a step that runs before the
# target is compiled and fails the build when one of its sources or of the
# headers in its folders includes a project header from anywhere else.
#
#   calorim_layer(<target> [MAY_INCLUDE <folder>/ | <header> ...])
#
# Folders are relative to the repository root and match only the headers
# directly inside them ("core/platform/" is not "core/platform/linux/").
# Includes of generated files without a folder (Qt's "*.moc") are allowed.
function(calorim_layer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "MAY_INCLUDE")
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  set(files "")
  set(own "")
  foreach(source IN LISTS sources)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} NORMALIZE)
    cmake_path(IS_PREFIX PROJECT_BINARY_DIR "${source}" generated)
    if(generated OR NOT source MATCHES "\\.(cpp|h)$")
      continue()
    endif()
    list(APPEND files ${source})
    cmake_path(GET source PARENT_PATH folder)
    cmake_path(RELATIVE_PATH folder BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
    list(APPEND own "${folder}/")
  endforeach()
  list(REMOVE_DUPLICATES own)
  foreach(folder IN LISTS own)
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}*.h)
    list(APPEND files ${headers})
  endforeach()
  list(REMOVE_DUPLICATES files)

  set(rules ${CMAKE_CURRENT_BINARY_DIR}/${target}.layer.cmake)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.layer.stamp)
  file(CONFIGURE OUTPUT ${rules} CONTENT
    "set(layer_name [==[${target}]==])\nset(layer_files [==[${files}]==])\nset(layer_allowed [==[${own};${arg_MAY_INCLUDE}]==])\nset(layer_stamp [==[${stamp}]==])\n")
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DRULES=${rules} -P ${PROJECT_SOURCE_DIR}/cmake/check_layer.cmake
    DEPENDS ${files} ${rules} ${PROJECT_SOURCE_DIR}/cmake/check_layer.cmake
    COMMENT "Checking the includes of ${target}"
    VERBATIM)
  add_custom_target(${target}_layer DEPENDS ${stamp})
  add_dependencies(${target} ${target}_layer)
endfunction()
