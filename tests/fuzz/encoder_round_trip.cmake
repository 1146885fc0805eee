# The encoder over arbitrary pictures and settings: every frame must decode to the encoder's
# reconstruction (the encoder's own verification, which aborts on a difference).
zov_fuzzer(encoder_round_trip SOURCES ${CMAKE_CURRENT_LIST_DIR}/encoder_round_trip_fuzzer.cpp LIBS zov_encoder zov_format)
# The chroma-key background bitmap loader over arbitrary file contents.
zov_fuzzer(background_bitmap SOURCES ${CMAKE_CURRENT_LIST_DIR}/background_bitmap_fuzzer.cpp LIBS zov_encoder zov_format)
