# korvo_mrustate: the four state stores (MRU lists, column layouts, window
# geometry, file-dialog directories) with their files; plain code, no
# sockets. The program entry loads and saves them.
add_library(korvo_mrustate STATIC
  ${CMAKE_CURRENT_LIST_DIR}/statefile_io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mru_lists.cpp
  ${CMAKE_CURRENT_LIST_DIR}/column_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fcdir_mem.cpp)
target_link_libraries(korvo_mrustate PUBLIC korvo_ut_strings PRIVATE korvo_runtime)
