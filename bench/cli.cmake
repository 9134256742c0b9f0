orv_benchmark(cli)
target_compile_definitions(bench_cli PRIVATE ORV_CLI="$<TARGET_FILE:orv4120>"
    ORV_BOARD="$<TARGET_FILE:orv4120-board>")
add_dependencies(bench_cli orv4120 orv4120-board)

# orv4120 monitor on both lines at full duty for a minute (not a Google Benchmark)
add_executable(soak_monitor soak_monitor.cpp)
target_link_libraries(soak_monitor PRIVATE Qt6::Core)
add_dependencies(soak_monitor orv4120)
