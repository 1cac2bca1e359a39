# Argument vectors, detached program start, scoped working-directory change.
add_library(korvo_ut_process STATIC ${CMAKE_CURRENT_LIST_DIR}/ut_process.cpp)
target_link_libraries(korvo_ut_process PUBLIC korvo_runtime)
