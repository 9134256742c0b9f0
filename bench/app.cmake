orv_benchmark(app tts_app)
