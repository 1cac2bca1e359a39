# The configuration broadcast service: store and list without sockets, and
# the server's handlers over real connections with generated clients.
korvo_add_test(test_configservice
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_config_store.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_config_server.cpp
  LIBS korvo_configservice korvo_generated_testkit)

# The broadcast services alone in a process that stays until the router
# closes it (see tests/e2e/e2e_service_host.cpp); also used by
# bench_configservice.
add_executable(broadcast_test_host ${PROJECT_SOURCE_DIR}/tests/e2e/e2e_service_host.cpp)
target_link_libraries(broadcast_test_host PRIVATE korvo_configservice_module korvo_filenotify_module
                      korvo_filebroadcast_module)

# The broadcast services end to end through a real svc_router, driven by
# korvoctl: a smoke test per service; the cases are the unit tests'.
korvo_add_test(test_broadcast_korvoctl
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_broadcast_korvoctl.cpp)
add_dependencies(test_broadcast_korvoctl svc_router korvoctl broadcast_test_host)
