# The file-change broadcast (receiver and forwarder) and the module objects
# of all three broadcast services.
korvo_add_test(test_filebroadcast
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_file_filter.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_file_relay.cpp
  LIBS korvo_filenotify korvo_filebroadcast korvo_generated_testkit)

korvo_add_test(test_broadcast_modules
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_broadcast_modules.cpp
  LIBS korvo_configservice_module korvo_filenotify_module korvo_filebroadcast_module)
