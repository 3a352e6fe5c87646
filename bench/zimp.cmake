zimp_add_bench(zimp_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZimpBench.cpp
  LIBS zimp_zimp zimp_radio_sim_core)
