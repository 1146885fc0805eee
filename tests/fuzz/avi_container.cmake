# The AVI container reader and the frame decoders behind the source reader.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZOV_FUZZ_TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
zov_fuzzer(avi_container
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/avi_container_fuzz.cpp
          ${PROJECT_SOURCE_DIR}/media/avi_container.cpp
          ${PROJECT_SOURCE_DIR}/media/video_decoder.cpp
  LIBS PkgConfig::ZOV_FUZZ_TURBOJPEG)
target_include_directories(fuzz_avi_container PRIVATE ${PROJECT_SOURCE_DIR})
