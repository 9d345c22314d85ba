# What tools/check-layers.py needs from a configured build: the code model
# (every target's sources) and a link map. The code model leaves out interface
# libraries and gives static libraries no links at all, so the map is written
# here, from the targets' own link properties, once the whole tree is read.

# CMake reads its queries before it configures: a fresh build answers from its
# second configure on, which the check runs itself when it finds no answer.
file(WRITE ${CMAKE_BINARY_DIR}/.cmake/api/v1/query/codemodel-v2 "")

function(vela5_layers_collect dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    vela5_layers_collect(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# One line per target: name, type, declaring folder, LINK_LIBRARIES and
# INTERFACE_LINK_LIBRARIES as raw lists (generator expressions unevaluated).
function(vela5_layers_write_map)
  vela5_layers_collect(${CMAKE_SOURCE_DIR} targets)
  set(lines "")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(folder ${target} SOURCE_DIR)
    set(links "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(links ${target} LINK_LIBRARIES)
    endif()
    get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
    foreach(var links interface)
      if("${${var}}" MATCHES "-NOTFOUND$")
        set(${var} "")
      endif()
    endforeach()
    string(APPEND lines "${target}\t${type}\t${folder}\t${links}\t${interface}\n")
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/vela5-link-map.txt "${lines}")
endfunction()

# Links may still be added by folders read later: write the map at the end of
# the top folder.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vela5_layers_write_map)
