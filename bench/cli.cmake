orv_benchmark(cli)
target_compile_definitions(bench_cli PRIVATE ORV_CLI="$<TARGET_FILE:orv4120>"
    ORV_BOARD="$<TARGET_FILE:orv4120-board>")
add_dependencies(bench_cli orv4120 orv4120-board)
