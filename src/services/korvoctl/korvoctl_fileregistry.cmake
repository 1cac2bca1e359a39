# korvoctl's "files" subcommand (FileRegistry). Uses korvoctl_service.cpp,
# which the windowregister fragment adds.
target_sources(korvoctl PRIVATE ${CMAKE_CURRENT_LIST_DIR}/korvoctl_files.cpp)
target_link_libraries(korvoctl PRIVATE korvo_generated)
