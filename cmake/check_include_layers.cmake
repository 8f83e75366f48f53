# Checks that the library's layers depend one way. Every source under src/
# belongs to the layer of its first folder:
#
#   0 common   src/common/, src/platform/   status, tables, format tables,
#                                           table cache, allocator, locks, CPU
#   1 engines  src/encode/, src/decode/,    the two engines, the containers
#              src/container/, src/band/    and band geometry (peers)
#   2 kernels  src/kernels/                 the kernel table of each
#                                           instruction set
#   3 api      src/interface/               exports, sequences, codec instance
#
# A file may include files of its own layer or of a lower one, and the public
# C header (the C++ wrapper is a host of the library, not a part of it).
# An include that reaches a higher layer, that resolves to nothing, or
# a folder with no layer fails the check.
#
#   cmake -DSOURCE_DIR=<repository> -P cmake/check_include_layers.cmake

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_include_layers: pass -DSOURCE_DIR=<repository>")
endif()
set(src "${SOURCE_DIR}/src")
set(names common engines kernels api)

# The layer number of a path relative to src/, in the variable named `out`,
# or -1 when its folder has none.
function(layer_of relative out)
  set(n -1)
  if(relative MATCHES "^(common|platform)/")
    set(n 0)
  elseif(relative MATCHES "^(encode|decode|container|band)/")
    set(n 1)
  elseif(relative MATCHES "^kernels/")
    set(n 2)
  elseif(relative MATCHES "^interface/")
    set(n 3)
  endif()
  set(${out} ${n} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files RELATIVE "${src}" "${src}/*.h" "${src}/*.hpp" "${src}/*.c" "${src}/*.cpp")
list(SORT files)
set(faults "")
set(count 0)
foreach(file IN LISTS files)
  layer_of("${file}" from)
  if(from EQUAL -1)
    string(APPEND faults "  src/${file}: its folder belongs to no layer\n")
    continue()
  endif()
  list(GET names ${from} from_name)
  get_filename_component(dir "${src}/${file}" DIRECTORY)
  file(STRINGS "${src}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" target "${line}")
    math(EXPR count "${count} + 1")
    # Library includes are written from src/; a path from the including
    # file's own folder is resolved too, so it cannot slip past the check.
    if(EXISTS "${src}/${target}")
      get_filename_component(resolved "${src}/${target}" ABSOLUTE)
    elseif(EXISTS "${dir}/${target}")
      get_filename_component(resolved "${dir}/${target}" ABSOLUTE)
    elseif(target STREQUAL "q32vex.h" OR target STREQUAL "q32vex_codec.h")
      continue()  # the public C headers: the ABI's own types, usable everywhere
    else()
      string(APPEND faults "  src/${file}: \"${target}\" names no file\n")
      continue()
    endif()
    file(RELATIVE_PATH to_relative "${src}" "${resolved}")
    if(to_relative MATCHES "^\\.\\./")
      string(APPEND faults "  src/${file}: \"${target}\" lies outside src/\n")
      continue()
    endif()
    layer_of("${to_relative}" to)
    if(to EQUAL -1)
      string(APPEND faults "  src/${file}: \"${target}\" is in a folder that belongs to no layer\n")
    elseif(to GREATER from)
      list(GET names ${to} to_name)
      string(APPEND faults
        "  src/${file} (${from_name}) includes \"${target}\" (${to_name}): a lower layer includes a higher one\n")
    endif()
  endforeach()
endforeach()

list(LENGTH files file_count)
if(file_count EQUAL 0)
  message(FATAL_ERROR "check_include_layers: no sources under ${src}")
endif()
if(NOT faults STREQUAL "")
  message(FATAL_ERROR "Includes against the layer order (common -> engines -> kernels -> api):\n${faults}")
endif()
message(STATUS "check_include_layers: ${count} includes in ${file_count} files follow the layer order")
