korvo_add_test(test_mrustate
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_mru_lists.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_column_config.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_window_config.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_fcdir_mem.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_state_files.cpp
  LIBS korvo_mrustate korvo_runtime)

korvo_add_test(test_mruservice
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_mruservice_server.cpp
  LIBS korvo_mruservice korvo_stp_transport korvo_runtime korvo_testsupport)

korvo_add_test(test_statefile_durability
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_statefile_durability.cpp
  LIBS korvo_mrustate_saver korvo_mrustate korvo_ut_idle korvo_ut_retry korvo_runtime)
