zov_bench(run_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/run_bench.cpp LIBS zov_compressor zov_bench_footage)
