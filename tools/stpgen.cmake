# stpgen: the interface generator. A build-time tool: built first, then run by
# korvo_add_interfaces (cmake/stpgen.cmake) for every interface file.
# The reader and emitter are a library, which the generator's own tests use
# too; the program adds only its command line.
add_library(korvo_stpgen_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_spec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_fields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emitter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emit_parsing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emit_class.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_emit_testkit.cpp)
target_include_directories(korvo_stpgen_core PUBLIC ${CMAKE_CURRENT_LIST_DIR}/stpgen)
add_executable(stpgen ${CMAKE_CURRENT_LIST_DIR}/stpgen/stpgen_main.cpp)
target_link_libraries(stpgen PRIVATE korvo_stpgen_core)
