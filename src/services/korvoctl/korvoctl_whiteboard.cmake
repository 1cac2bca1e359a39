# korvoctl's "wb" subcommand (WhiteBoard). Uses korvoctl_service.cpp, which
# the windowregister fragment adds. The text of "get" lines and of
# dumps is a library of its own (korvo_korvoctl_wbtext), with no connection
# in it, for its tests and fuzz targets.
add_library(korvo_korvoctl_wbtext STATIC
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_wb_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_wb_parse.cpp)
target_sources(korvoctl PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_whiteboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvoctl_wb_client.cpp)
target_link_libraries(korvoctl PRIVATE korvo_korvoctl_wbtext korvo_generated korvo_ut_idle)
