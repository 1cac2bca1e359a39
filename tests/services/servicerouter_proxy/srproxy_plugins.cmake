# The router client against the scripted router of this process: start-up,
# unusual replies, plugins, log forwarding and shared-object services.
# A service library loaded by the tests, once complete and once without its
# "driveIdle" entry point. It uses the test program's symbols (exported
# below) instead of linking the project's libraries a second time.
foreach(variant soservice soservice_noidle)
  add_library(korvo_test_${variant} SHARED ${CMAKE_CURRENT_LIST_DIR}/so_test_service.cpp)
  add_dependencies(korvo_test_${variant} korvo_generated)
endforeach()
target_compile_definitions(korvo_test_soservice_noidle PRIVATE SO_TEST_WITHOUT_DRIVEIDLE)

korvo_add_test(test_srproxy_plugins
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_srproxy_scripted.cpp
  LIBS korvo_srproxy korvo_generated korvo_stp_channels korvo_runtime)
set_target_properties(test_srproxy_plugins PROPERTIES ENABLE_EXPORTS ON)
add_dependencies(test_srproxy_plugins korvo_test_soservice korvo_test_soservice_noidle)
target_compile_definitions(test_srproxy_plugins PRIVATE
  KORVO_TEST_SO_PATH="$<TARGET_FILE:korvo_test_soservice>"
  KORVO_TEST_SO_NO_IDLE_PATH="$<TARGET_FILE:korvo_test_soservice_noidle>")
