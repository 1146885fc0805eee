# zovinfo's AVI path: open an arbitrary file image through the source reader and decode every frame of its video stream.
zov_fuzzer(avi_walk SOURCES ${CMAKE_CURRENT_LIST_DIR}/avi_walk_fuzzer.cpp LIBS zov_info zov_format)
