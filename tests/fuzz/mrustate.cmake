# libFuzzer targets for the four state files (clang only), each a round trip
# through the state stores' own load and save.
foreach(target fuzz_mrulist fuzz_columns fuzz_windowpos fuzz_fcdir)
  korvo_add_fuzz_target(${target}
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
    LIBS korvo_mrustate korvo_runtime
    INSTRUMENT korvo_mrustate)
endforeach()
