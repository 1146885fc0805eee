# libx264 for comparison only: linked into this benchmark and nothing else.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(X264 QUIET IMPORTED_TARGET x264)
endif()
if(TARGET PkgConfig::X264)
  zov_bench(x264_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/x264_bench.cpp
            LIBS zov_bench_footage PkgConfig::X264)
else()
  message(STATUS "libx264 not found: x264_bench is not built")
endif()
