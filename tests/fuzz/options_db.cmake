# libFuzzer target for the options-database reader (clang only). The parser
# and attribute-tree libraries get coverage instrumentation so the fuzzer
# can steer into them; their users then link the sanitizer runtimes too.
if(KORVO_BUILD_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(korvo_fuzz_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  foreach(lib korvo_ut_parser korvo_ut_attrtree)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link ${korvo_fuzz_sanitizers}
                           -fno-omit-frame-pointer)
    target_link_options(${lib} INTERFACE -fsanitize=address,undefined)
  endforeach()
  add_executable(fuzz_options_db ${CMAKE_CURRENT_LIST_DIR}/fuzz_options_db.cpp)
  target_compile_options(fuzz_options_db PRIVATE -fsanitize=fuzzer ${korvo_fuzz_sanitizers}
                         -fno-omit-frame-pointer)
  target_link_options(fuzz_options_db PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_options_db PRIVATE korvo_ut_attrtree)
endif()
