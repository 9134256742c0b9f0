orv_benchmark(hid tts_hid)
