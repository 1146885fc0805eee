# DriverProc driven by message sequences: opens, queries, begins, frames of the bundled ZOV2
# sample (whole or damaged) and of arbitrary bytes, ends, closes and style changes, on several
# instances at once (the codec library's sources built into the fuzzer).
file(GLOB _zov_codec_sources ${PROJECT_SOURCE_DIR}/codec/*.cpp)
zov_fuzzer(codec_sequence
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/codec_sequence_fuzzer.cpp ${_zov_codec_sources}
  LIBS zov_network zov_format zov_platform)
target_include_directories(fuzz_codec_sequence PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_compile_definitions(fuzz_codec_sequence PRIVATE ZOV_SOVERSION=${ZOV_SOVERSION}
  ZOV_SAMPLE_STREAM="${PROJECT_SOURCE_DIR}/tests/data/sample-teapot-zov2.avi")
