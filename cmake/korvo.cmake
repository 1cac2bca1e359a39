# Helpers shared by every CMakeLists of the project.

# korvo_add_test(<name> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>])
# One GoogleTest program registered as one CTest test. Each test runs with its
# own empty HOME and TMPDIR under the build tree, so no test touches the real
# user's files or another test's lock files.
function(korvo_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(home ${CMAKE_BINARY_DIR}/testenv/${name}/home)
  set(tmp ${CMAKE_BINARY_DIR}/testenv/${name}/tmp)
  file(MAKE_DIRECTORY ${home} ${tmp})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "HOME=${home};TMPDIR=${tmp};KORVO_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
endfunction()

# korvo_add_bench(<name> SOURCES <files...> [LIBS <targets...>] [COUNT_ALLOCATIONS])
# COUNT_ALLOCATIONS links bench/bench_alloc_count.cpp and wraps the C
# allocator, so the program can read its allocation counts
# (bench/bench_alloc_count.h), those of the project libraries included.
function(korvo_add_bench name)
  cmake_parse_arguments(B "COUNT_ALLOCATIONS" "" "SOURCES;LIBS" ${ARGN})
  if(B_COUNT_ALLOCATIONS)
    list(APPEND B_SOURCES ${PROJECT_SOURCE_DIR}/bench/bench_alloc_count.cpp)
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  if(B_COUNT_ALLOCATIONS)
    target_link_options(${name} PRIVATE
      -Wl,--wrap=malloc -Wl,--wrap=calloc -Wl,--wrap=realloc)
  endif()
endfunction()

# korvo_add_fuzz_target(<name> SOURCES <files...> [LIBS <targets...>]
#                       [INSTRUMENT <libraries...>])
# One libFuzzer program built with ASan and UBSan; only with KORVO_BUILD_FUZZ
# and clang, otherwise nothing. The INSTRUMENT libraries get coverage
# instrumentation (once, however many targets name them) so the fuzzer can
# steer into them; every program that links them then links the sanitizer
# runtimes too.
function(korvo_add_fuzz_target name)
  if(NOT KORVO_BUILD_FUZZ OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS;INSTRUMENT" ${ARGN})
  set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
  foreach(lib ${F_INSTRUMENT})
    get_target_property(done ${lib} KORVO_FUZZ_INSTRUMENTED)
    if(NOT done)
      target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link ${sanitizers})
      target_link_options(${lib} INTERFACE -fsanitize=address,undefined)
      set_target_properties(${lib} PROPERTIES KORVO_FUZZ_INSTRUMENTED ON)
    endif()
  endforeach()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer ${sanitizers})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
endfunction()

# korvo_include_parts(<fragment...>)
# Includes the named CMake fragments of the current folder (one per
# component, each owned by the component it builds), in the order given.
# Every fragment named must exist: a missing one fails the configuration.
macro(korvo_include_parts)
  foreach(part ${ARGN})
    include(${CMAKE_CURRENT_LIST_DIR}/${part}.cmake)
  endforeach()
endmacro()

# korvo_position_independent(<target>)
# Builds every static library that <target> links, directly or through
# other libraries, as position-independent code, so that a shared library
# (a service library) can carry its own copy of them. Call it once all
# targets exist.
function(korvo_position_independent target)
  set(todo ${target})
  set(seen "")
  while(todo)
    list(POP_FRONT todo t)
    if(t IN_LIST seen OR NOT TARGET ${t})
      continue()
    endif()
    list(APPEND seen ${t})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "OBJECT_LIBRARY")
      set_target_properties(${t} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    endif()
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(libs ${t} ${prop})
      if(NOT libs)
        continue()
      endif()
      foreach(lib ${libs})
        string(REGEX REPLACE "^\\$<LINK_LIBRARY:[A-Z_]+,(.*)>$" "\\1" lib "${lib}")
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
        list(APPEND todo ${lib})
      endforeach()
    endforeach()
  endwhile()
endfunction()
