korvo_add_test(test_fileregistry
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fileregistry_typemap.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_fileregistry_server.cpp
  LIBS korvo_fileregistry korvo_stp_transport korvo_runtime korvo_testsupport)

# Malformed requests to every request/reply service, one table.
korvo_add_test(test_malformed_requests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_malformed_requests.cpp
  LIBS korvo_mruservice korvo_fileregistry korvo_windowregister korvo_configservice_module
       korvo_whiteboard_client korvo_whiteboard korvo_generated_testkit korvo_testsupport)
