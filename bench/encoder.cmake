add_library(zov_bench_footage STATIC ${CMAKE_CURRENT_LIST_DIR}/encoder_footage.cpp
                                     ${CMAKE_CURRENT_LIST_DIR}/yuv420.cpp)
zov_warnings(zov_bench_footage)
target_link_libraries(zov_bench_footage PUBLIC zov_media zov_test_support benchmark::benchmark)
target_compile_definitions(zov_bench_footage PRIVATE ZOV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
zov_bench(encoder_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/encoder_bench.cpp LIBS zov_bench_footage)
zov_bench(decoder_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoder_bench.cpp LIBS zov_bench_footage zov_format)
