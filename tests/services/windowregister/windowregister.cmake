korvo_add_test(test_windowregister
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_window_class_list.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_windowregister_list.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_windowregister_server.cpp
  LIBS korvo_windowregister korvo_fileregistry korvo_stp_transport korvo_runtime korvo_testsupport)
