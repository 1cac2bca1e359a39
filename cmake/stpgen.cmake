# korvo_add_interfaces(<library> <interface files...>)
# Runs the generator tools/stpgen on each interface file and builds what it
# writes into one static library <library>, which exports the folder of the
# generated headers (${CMAKE_BINARY_DIR}/generated) and links the STP runtime
# the generated code stands on. Each interface yields <itf>_parsing.h/.cpp and
# <itf>_<role>_impl.h/.cpp, <itf> being the interface name in lower case; the
# names are read from the file's "interface" and "role" lines at configure
# time (a change there reconfigures). A malformed file fails the build with
# "file:line: what is wrong".
function(korvo_add_interfaces lib)
  set(outdir ${CMAKE_BINARY_DIR}/generated)
  file(MAKE_DIRECTORY ${outdir})
  set(sources)
  foreach(itf ${ARGN})
    get_filename_component(path ${itf} ABSOLUTE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(STRINGS ${path} ilines REGEX "^[ \t]*interface[ \t]+[A-Za-z_0-9]+")
    file(STRINGS ${path} rlines REGEX "^[ \t]*role[ \t]+[A-Za-z_0-9]+")
    if(NOT ilines OR NOT rlines)
      message(FATAL_ERROR "${path}: no 'interface' or 'role' line")
    endif()
    list(GET ilines 0 iline)
    string(REGEX REPLACE "^[ \t]*interface[ \t]+([A-Za-z_0-9]+).*" "\\1" name "${iline}")
    string(TOLOWER ${name} stem)
    set(outputs ${outdir}/${stem}_parsing.h ${outdir}/${stem}_parsing.cpp)
    foreach(rline ${rlines})
      string(REGEX REPLACE "^[ \t]*role[ \t]+([A-Za-z_0-9]+).*" "\\1" role "${rline}")
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
  target_include_directories(${lib} PUBLIC ${outdir})
  target_link_libraries(${lib} PUBLIC korvo_stp_specclass korvo_stp_transport korvo_stp_msg korvo_stp_log
                        korvo_ut_strings korvo_runtime)
endfunction()

# korvo_add_interface_testkit(<library> <endpoint library> <interface files...>)
# Test support for generated endpoints (stpgen --testkit): per interface a
# sample-value filler per record and per role a recorder and a send-all
# driver, built into <library> on top of <endpoint library>. Used by tests.
function(korvo_add_interface_testkit lib impl)
  set(outdir ${CMAKE_BINARY_DIR}/generated)
  set(sources)
  foreach(itf ${ARGN})
    get_filename_component(path ${itf} ABSOLUTE)
    file(STRINGS ${path} ilines REGEX "^[ \t]*interface[ \t]+[A-Za-z_0-9]+")
    list(GET ilines 0 iline)
    string(REGEX REPLACE "^[ \t]*interface[ \t]+([A-Za-z_0-9]+).*" "\\1" name "${iline}")
    string(TOLOWER ${name} stem)
    set(outputs ${outdir}/${stem}_testkit.h ${outdir}/${stem}_testkit.cpp)
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
