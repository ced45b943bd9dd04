# vx_library(<name> <sources...>): one subsystem's static library. A subsystem whose
# folder holds no sources yet is an interface library, so its users still link.
function(vx_library name)
  set(sources ${ARGN})
  list(FILTER sources INCLUDE REGEX "\\.(cpp|c|qrc)$")
  if(sources)
    add_library(${name} STATIC ${ARGN})
    set(${name}_KIND PUBLIC PARENT_SCOPE)
  else()
    add_library(${name} INTERFACE)
  endif()
endfunction()

# vx_link(<name> [PUBLIC ...] [PRIVATE ...]): links a vx_library, folding PRIVATE into
# INTERFACE for a library without sources.
function(vx_link name)
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(args ${ARGN})
    list(TRANSFORM args REPLACE "^(PUBLIC|PRIVATE)$" "INTERFACE")
    target_link_libraries(${name} ${args})
  else()
    target_link_libraries(${name} ${ARGN})
  endif()
endfunction()

function(vx_includes name)
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${name} INTERFACE ${ARGN})
  else()
    target_include_directories(${name} PUBLIC ${ARGN})
  endif()
endfunction()
