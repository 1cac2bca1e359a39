korvo_add_test(test_runtime
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_runtime_format_oracle.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_runtime_format.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_runtime_messages.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_runtime_strings.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_runtime_files.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_runtime_sort.cpp
  LIBS korvo_runtime)
