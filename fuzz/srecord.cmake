zimp_add_fuzzer(fuzz_srecord SOURCES ${CMAKE_CURRENT_LIST_DIR}/srecord_fuzz.cpp
  LIBS zimp_srecord zimp_lzrw3a)
