# The router client against the scripted router of this process: start-up,
# unusual replies, plugins, log forwarding, and the FileRegistry service
# library loaded as a shared-object service.
korvo_add_test(test_srproxy_plugins
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_srproxy_scripted.cpp
  LIBS korvo_srproxy korvo_generated korvo_stp_channels korvo_runtime)
add_dependencies(test_srproxy_plugins korvo_fileregistry_service)
target_compile_definitions(test_srproxy_plugins PRIVATE
  KORVO_TEST_SO_PATH="$<TARGET_FILE:korvo_fileregistry_service>")
