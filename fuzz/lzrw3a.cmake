zimp_add_fuzzer(fuzz_lzrw3a SOURCES ${CMAKE_CURRENT_LIST_DIR}/lzrw3a_fuzz.cpp
  LIBS zimp_lzrw3a)
