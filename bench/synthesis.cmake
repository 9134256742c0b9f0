orv_benchmark(synthesis tts_synthesis)
target_compile_definitions(bench_synthesis PRIVATE
    GBK_TABLE_PATH="${CMAKE_BINARY_DIR}/bin/GBKToBig5AndUnicode.dat")
add_dependencies(bench_synthesis gbk_table)
