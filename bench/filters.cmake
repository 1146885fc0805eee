zov_bench(filters_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/filters_bench.cpp LIBS zov_encoder)
