zimp_add_bench(lzrw3a_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/lzrw3a_bench.cpp
  LIBS zimp_lzrw3a)
# The shared benchmark data beside the checkout; ZIMP_BENCH_DATA overrides it at run time.
target_compile_definitions(lzrw3a_bench PRIVATE
  ZIMP_BENCH_DATA_DIR="${PROJECT_SOURCE_DIR}/../shared/bench-data")
