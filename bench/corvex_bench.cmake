# Corvex throughput over loopback: request/response round trips against rnc-sim, host
# messages through the reader into the queue, and two plain sockets as the floor.
zimp_add_bench(corvex_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/corvex_bench.cpp LIBS corvex)
target_compile_definitions(corvex_bench PRIVATE RNC_SIM_PATH="$<TARGET_FILE:rnc-sim>")
add_dependencies(corvex_bench rnc-sim)
