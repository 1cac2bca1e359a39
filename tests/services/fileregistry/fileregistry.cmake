korvo_add_test(test_fileregistry
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fileregistry_typemap.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_fileregistry_server.cpp
  LIBS korvo_fileregistry korvo_stp_transport korvo_runtime korvo_testsupport)
