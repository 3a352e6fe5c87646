zimp_add_bench(srecord_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/srecord_bench.cpp
  LIBS zimp_srecord)
