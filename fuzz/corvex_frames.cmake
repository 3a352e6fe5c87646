# Hostile byte streams into the Corvex reader's frame assembly and hand-over.
zimp_add_fuzzer(fuzz_corvex_frames SOURCES ${CMAKE_CURRENT_LIST_DIR}/corvex_frames.cpp
  LIBS corvex_internal)
