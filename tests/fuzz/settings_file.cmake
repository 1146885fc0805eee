# The compressor's settings file: load an arbitrary "zovcomp.ini", check every correction held,
# and check that saving and loading again is stable.
zov_fuzzer(settings_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_file_fuzzer.cpp
           LIBS zov_compressor zov_platform)
