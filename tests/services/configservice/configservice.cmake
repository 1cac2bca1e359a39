# The configuration broadcast service: store and list without sockets, and
# the server's handlers over real connections with generated clients.
korvo_add_test(test_configservice
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_config_store.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_config_server.cpp
  LIBS korvo_configservice korvo_generated_testkit)
