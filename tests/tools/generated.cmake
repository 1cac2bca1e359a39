# Tests of the interface generator and of the generated endpoints.
korvo_add_interface_testkit(korvo_generated_testkit korvo_generated)

korvo_add_test(test_generated
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_generated_roundtrip.cpp
  LIBS korvo_generated_testkit)
target_compile_definitions(test_generated PRIVATE KORVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

# Two versions of a test interface: a field and a message added in the newer.
korvo_add_interfaces(korvo_generated_probe
  ${CMAKE_CURRENT_LIST_DIR}/ProbeOld.stp
  ${CMAKE_CURRENT_LIST_DIR}/ProbeNew.stp)
korvo_add_interface_testkit(korvo_generated_probe_testkit korvo_generated_probe)

korvo_add_test(test_generated_wire
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_generated_wire.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_generated_behaviour.cpp
  LIBS korvo_generated_testkit korvo_generated_probe_testkit)

korvo_add_test(test_stpgen
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stpgen_reader.cpp
  LIBS korvo_stpgen_core)
add_dependencies(test_stpgen stpgen)
target_compile_definitions(test_stpgen PRIVATE KORVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# Generated test kits are driven through the support library's pairs.
target_link_libraries(korvo_generated_testkit PUBLIC korvo_testsupport)
