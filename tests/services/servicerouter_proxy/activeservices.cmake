# The active-services file: key, display rules, digest, lock, port.
korvo_add_test(test_activeservices
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_activeservices_manager.cpp
  LIBS korvo_srproxy korvo_runtime)
