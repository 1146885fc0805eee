# Decode speed beside libdav1d (AV1, the stream made by libaom) and libvpx (VP8, VP9), for
# comparison only: linked into this benchmark and nothing else, built when all three are found.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(DAV1D QUIET IMPORTED_TARGET dav1d)
  pkg_check_modules(AOM QUIET IMPORTED_TARGET aom)
  pkg_check_modules(VPX QUIET IMPORTED_TARGET vpx)
endif()
if(TARGET PkgConfig::DAV1D AND TARGET PkgConfig::AOM AND TARGET PkgConfig::VPX)
  zov_bench(peer_decoders_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/peer_decoders_bench.cpp
            LIBS zov_bench_footage zov_format PkgConfig::DAV1D PkgConfig::AOM PkgConfig::VPX)
else()
  message(STATUS "libdav1d, libaom or libvpx not found: peer_decoders_bench is not built")
endif()
