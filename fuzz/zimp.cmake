# The engine's framing and reply parser, and the simulated radio, fed hostile bytes.
zimp_add_fuzzer(fuzz_zimp_frames SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZimpFramesFuzz.cpp
  LIBS zimp_zimp)
zimp_add_fuzzer(fuzz_zimp_radio SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZimpRadioFuzz.cpp
  LIBS zimp_radio_sim_core zimp_zimp)
