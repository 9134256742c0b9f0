orv_benchmark(session tts_session)
