# The network source's reading of a movie server's ZEV header and the placeholder file built
# from it: no header may lead it outside the 2,048 bytes, and the file it writes must have the
# size it announced.
zov_fuzzer(zev_header SOURCES ${CMAKE_CURRENT_LIST_DIR}/zev_header_fuzzer.cpp LIBS zov_network)
