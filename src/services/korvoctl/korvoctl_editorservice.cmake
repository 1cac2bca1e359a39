# korvoctl's "edit" subcommand (the outside-editor services). Reads the
# editor choice through the default configuration. Uses korvoctl_service.cpp,
# which the windowregister fragment adds.
target_sources(korvoctl PRIVATE ${CMAKE_CURRENT_LIST_DIR}/korvoctl_edit.cpp)
target_link_libraries(korvoctl PRIVATE korvo_generated korvo_defaultconfig)
