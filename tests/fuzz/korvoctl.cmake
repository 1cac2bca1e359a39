# libFuzzer target for the dump text of korvoctl wb load (clang only).
korvo_add_fuzz_target(fuzz_wb_load
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_wb_load.cpp
  LIBS korvo_korvoctl_wbtext
  INSTRUMENT korvo_korvoctl_wbtext)
