zimp_add_bench(lzrw3a_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/lzrw3a_bench.cpp
  LIBS zimp_lzrw3a)
