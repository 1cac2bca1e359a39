# korvo_runtime: the general runtime library (gen_ functions, sorting,
# shared-library wrappers), the formatting engine and MString.
add_library(korvo_runtime STATIC
  ${CMAKE_CURRENT_LIST_DIR}/indgen_init.cpp
  ${CMAKE_CURRENT_LIST_DIR}/indgen_messages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/indgen_memory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/indgen_strings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/indgen_filenames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/indgen_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/indgen_env.cpp
  ${CMAKE_CURRENT_LIST_DIR}/indgen_configdirs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/indgen_signals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/twl_sort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/twl_shlib.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mt_vsprintf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mt_float.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mt_asprintf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mstring.cpp)
target_link_libraries(korvo_runtime PUBLIC ${CMAKE_DL_LIBS})
