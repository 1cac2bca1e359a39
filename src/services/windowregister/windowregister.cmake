# korvo_windowregister: the "TWL_WindowRegisterService" service (window
# classes and records, the register over all connections, the server
# endpoint, exit condition and factory). Its objects are built before main;
# a program that offers the service links the library whole
# (WHOLE_ARCHIVE) or calls WindowRegister_GetServiceFactory().
add_library(korvo_windowregister STATIC
  ${CMAKE_CURRENT_LIST_DIR}/window_class_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/windowregister_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/windowregister_server.cpp)
target_link_libraries(korvo_windowregister
  PUBLIC korvo_generated korvo_service_support korvo_runtime)

# The module's process-wide objects for svc_statemgr: korvo_windowregister linked whole,
# since nothing in main refers to them.
add_library(korvo_windowregister_module INTERFACE)
target_link_libraries(korvo_windowregister_module INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_windowregister>")
