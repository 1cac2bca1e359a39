# Tests of the service router: a real svc_router process driven by test
# plugins built on the generated "plugin" role, with the RouterEcho test
# service and a provider program the router starts.
korvo_add_interfaces(korvo_router_echo ${CMAKE_CURRENT_LIST_DIR}/RouterEcho.stp)

add_library(korvo_router_testkit STATIC ${CMAKE_CURRENT_LIST_DIR}/router_testkit.cpp)
target_include_directories(korvo_router_testkit PUBLIC ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(korvo_router_testkit PUBLIC korvo_router_echo korvo_generated korvo_ut_retry korvo_testsupport)

add_executable(router_test_provider ${CMAKE_CURRENT_LIST_DIR}/router_test_provider.cpp)
target_link_libraries(router_test_provider PRIVATE korvo_router_testkit korvo_runtime)

korvo_add_test(test_router
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_router_units.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_router_broker.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_router_activation.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_router_limits.cpp
  LIBS korvo_router korvo_router_testkit)
add_dependencies(test_router svc_router router_test_provider)
