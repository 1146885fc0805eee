# The selector driver's device control over arbitrary request sequences.
zov_fuzzer(selector_driver SOURCES ${CMAKE_CURRENT_LIST_DIR}/selector_driver_fuzzer.cpp LIBS zov_kernel)
