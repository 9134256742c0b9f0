orv_benchmark(cli)
target_compile_definitions(bench_cli PRIVATE ORV_CLI="$<TARGET_FILE:orv4120>")
add_dependencies(bench_cli orv4120)
