# The block file reader over arbitrary file contents: a file it accepts must place every frame
# and every audio piece inside the file.
zov_fuzzer(block_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/block_file_fuzzer.cpp LIBS zov_encoder zov_format)
