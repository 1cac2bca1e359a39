# The router client against the scripted router of this process: start-up,
# unusual replies, plugins, log forwarding and shared-object services.
# A test service library: the service entry points with one service. It uses
# the test program's symbols (exported below) instead of linking the
# project's libraries a second time, so what runs in it counts for them.
add_library(korvo_test_soservice SHARED ${CMAKE_CURRENT_LIST_DIR}/so_test_service.cpp
  ${PROJECT_SOURCE_DIR}/src/services/servicerouter_proxy/shared_object_entry.cpp)
add_dependencies(korvo_test_soservice korvo_generated)

korvo_add_test(test_srproxy_plugins
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_srproxy_scripted.cpp
  LIBS korvo_srproxy korvo_generated korvo_stp_channels korvo_runtime)
set_target_properties(test_srproxy_plugins PROPERTIES ENABLE_EXPORTS ON)
add_dependencies(test_srproxy_plugins korvo_test_soservice)
target_compile_definitions(test_srproxy_plugins PRIVATE
  KORVO_TEST_SO_PATH="$<TARGET_FILE:korvo_test_soservice>")
