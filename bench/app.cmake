orv_benchmark(app tts_app)

# A measurement over a run of the real window (not a Google Benchmark): build/bin/soak_window
add_executable(soak_window soak_window.cpp)
target_link_libraries(soak_window PRIVATE tts_app tts_board)
