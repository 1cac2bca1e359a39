# Reading and writing options-database files of the size a large WhiteBoard
# group file reaches, and the scaling of reads with the file size.
korvo_add_bench(bench_options_db
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_options_db.cpp
  LIBS korvo_ut_attrtree)
