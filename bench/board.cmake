orv_benchmark(board tts_board)
