# The frame decoder over arbitrary stream formats, options and frame bytes.
zov_fuzzer(decoder SOURCES ${CMAKE_CURRENT_LIST_DIR}/decode_frame_fuzzer.cpp LIBS zov_format)
