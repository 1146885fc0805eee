# zevserve under load: the server runs as its own program, the viewers in the benchmark.
zov_bench(zevserve_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/zevserve_bench.cpp)
add_dependencies(zevserve_bench zevserve)
target_compile_definitions(zevserve_bench PRIVATE ZOV_ZEVSERVE_PROGRAM="$<TARGET_FILE:zevserve>")
