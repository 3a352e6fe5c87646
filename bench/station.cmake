zimp_add_bench(station_bench SOURCES station_bench.cpp LIBS zimp_platform)
target_include_directories(station_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(station_bench PRIVATE
  ZIMP_CLI="$<TARGET_FILE:zimp>"
  ZIMP_RADIO_SIM="$<TARGET_FILE:zimp-radio-sim>")
add_dependencies(station_bench zimp zimp-radio-sim)
