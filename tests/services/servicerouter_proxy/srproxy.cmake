# The router client: options, launching a stand-in router (and svc_statemgr's
# launch check), and its service connections against the real router.
# The stand-in router program the launch tests start, named "svc_router"
# in a folder of its own.
set(srproxy_router_dir ${CMAKE_BINARY_DIR}/testenv/srproxy_router_bin)
add_executable(srproxy_test_router ${CMAKE_CURRENT_LIST_DIR}/srproxy_test_router_main.cpp)
target_link_libraries(srproxy_test_router PRIVATE korvo_generated korvo_ut_idle korvo_runtime)
target_include_directories(srproxy_test_router PRIVATE ${PROJECT_SOURCE_DIR}/tests)
set_target_properties(srproxy_test_router PROPERTIES
  OUTPUT_NAME svc_router RUNTIME_OUTPUT_DIRECTORY ${srproxy_router_dir})

korvo_add_test(test_srproxy
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_srproxy_args.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_srproxy_launch.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_srproxy_router.cpp
  LIBS korvo_srproxy korvo_router_testkit korvo_generated korvo_runtime)
target_compile_definitions(test_srproxy PRIVATE SRPROXY_TEST_ROUTER_DIR="${srproxy_router_dir}")
add_dependencies(test_srproxy srproxy_test_router svc_statemgr svc_router)
