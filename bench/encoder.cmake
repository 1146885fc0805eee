zov_bench(encoder_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/encoder_bench.cpp LIBS zov_encoder zov_test_support)
