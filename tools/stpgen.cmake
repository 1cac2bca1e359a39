# stpgen: the interface generator. A build-time tool: built first, then run by
# korvo_add_interfaces (cmake/stpgen.cmake) for every interface file.
add_executable(stpgen
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_spec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_fields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emitter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emit_parsing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emit_class.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emit_testkit.cpp)
# The reader and emitter as a library too, for the generator's own tests.
add_library(korvo_stpgen_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_spec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_fields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emitter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emit_parsing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emit_class.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emit_testkit.cpp)
target_include_directories(korvo_stpgen_core PUBLIC ${CMAKE_CURRENT_LIST_DIR}/stpgen)
