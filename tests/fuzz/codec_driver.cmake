# The codec driver's decompression path (the codec library's sources built into the fuzzer).
file(GLOB _zov_codec_sources ${PROJECT_SOURCE_DIR}/codec/*.cpp)
zov_fuzzer(codec_driver
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/codec_driver_fuzzer.cpp ${_zov_codec_sources}
  LIBS zov_network zov_format zov_platform)
target_include_directories(fuzz_codec_driver PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_compile_definitions(fuzz_codec_driver PRIVATE ZOV_SOVERSION=${ZOV_SOVERSION})
