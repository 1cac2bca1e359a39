# korvo_interface_names(<interface file> <name var> <roles var>)
# The interface name (from the file's first "interface" line) and the list of
# its role names (from its "role" lines), read at configure time; a file
# without either fails the configuration.
function(korvo_interface_names path name_var roles_var)
  file(STRINGS ${path} ilines REGEX "^[ \t]*interface[ \t]+[A-Za-z_0-9]+")
  file(STRINGS ${path} rlines REGEX "^[ \t]*role[ \t]+[A-Za-z_0-9]+")
  if(NOT ilines OR NOT rlines)
    message(FATAL_ERROR "${path}: no 'interface' or 'role' line")
  endif()
  list(GET ilines 0 iline)
  string(REGEX REPLACE "^[ \t]*interface[ \t]+([A-Za-z_0-9]+).*" "\\1" name "${iline}")
  set(roles)
  foreach(rline ${rlines})
    string(REGEX REPLACE "^[ \t]*role[ \t]+([A-Za-z_0-9]+).*" "\\1" role "${rline}")
    list(APPEND roles ${role})
  endforeach()
  set(${name_var} ${name} PARENT_SCOPE)
  set(${roles_var} ${roles} PARENT_SCOPE)
endfunction()

# korvo_add_interfaces(<library> <interface files...>)
# Runs the generator tools/stpgen on each interface file and builds what it
# writes into one static library <library>, which exports the folder of the
# generated headers (${CMAKE_BINARY_DIR}/generated) and links the STP runtime
# the generated code stands on. Each interface yields <itf>_parsing.h/.cpp and
# <itf>_<role>_impl.h/.cpp, <itf> being the interface name in lower case; the
# names are read from the file's "interface" and "role" lines at configure
# time (a change there reconfigures). A malformed file fails the build with
# "file:line: what is wrong". The library remembers its interface files
# (property KORVO_INTERFACE_FILES) for korvo_add_interface_testkit.
function(korvo_add_interfaces lib)
  set(outdir ${CMAKE_BINARY_DIR}/generated)
  file(MAKE_DIRECTORY ${outdir})
  set(sources)
  set(paths)
  foreach(itf ${ARGN})
    get_filename_component(path ${itf} ABSOLUTE)
    list(APPEND paths ${path})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    korvo_interface_names(${path} name roles)
    string(TOLOWER ${name} stem)
    set(outputs ${outdir}/${stem}_parsing.h ${outdir}/${stem}_parsing.cpp)
    foreach(role ${roles})
      list(APPEND outputs ${outdir}/${stem}_${role}_impl.h ${outdir}/${stem}_${role}_impl.cpp)
    endforeach()
    add_custom_command(
      OUTPUT ${outputs}
      COMMAND stpgen --out ${outdir} ${path}
      DEPENDS stpgen ${path}
      COMMENT "stpgen ${itf}"
      VERBATIM)
    list(APPEND sources ${outputs})
  endforeach()
  add_library(${lib} STATIC ${sources})
  set_target_properties(${lib} PROPERTIES KORVO_INTERFACE_FILES "${paths}")
  target_include_directories(${lib} PUBLIC ${outdir})
  target_link_libraries(${lib} PUBLIC korvo_stp_specclass korvo_stp_transport korvo_stp_msg korvo_stp_log
                        korvo_ut_strings korvo_runtime)
endfunction()

# korvo_add_interface_testkit(<library> <endpoint library>)
# Test support for generated endpoints (stpgen --testkit): per interface of
# <endpoint library> (made by korvo_add_interfaces) a sample-value filler per
# record and per role a recorder and a send-all driver, built into <library>
# on top of <endpoint library>. Used by tests.
function(korvo_add_interface_testkit lib impl)
  set(outdir ${CMAKE_BINARY_DIR}/generated)
  get_target_property(paths ${impl} KORVO_INTERFACE_FILES)
  if(NOT paths)
    message(FATAL_ERROR "${impl}: not a library made by korvo_add_interfaces")
  endif()
  set(sources)
  foreach(path ${paths})
    korvo_interface_names(${path} name roles)
    string(TOLOWER ${name} stem)
    set(outputs ${outdir}/${stem}_testkit.h ${outdir}/${stem}_testkit.cpp)
    get_filename_component(itf ${path} NAME)
    add_custom_command(
      OUTPUT ${outputs}
      COMMAND stpgen --testkit --out ${outdir} ${path}
      DEPENDS stpgen ${path}
      COMMENT "stpgen --testkit ${itf}"
      VERBATIM)
    list(APPEND sources ${outputs})
  endforeach()
  add_library(${lib} STATIC ${sources})
  target_include_directories(${lib} PUBLIC ${outdir} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${lib} PUBLIC ${impl})
endfunction()
