zov_bench(output_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/output_bench.cpp LIBS zov_format zov_test_support)
