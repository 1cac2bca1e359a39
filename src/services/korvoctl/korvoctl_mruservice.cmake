# korvoctl's "mru" subcommand (MRUService: recent lists, column layouts,
# window geometry and file-dialog directories).
target_sources(korvoctl PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_mruservice.cpp)
target_link_libraries(korvoctl PRIVATE korvo_generated)
