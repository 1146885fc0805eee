# Installs the build into a fresh prefix and runs the installed programs as a user would.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<empty folder> -DLIBDIR=<lib dir> -P install_check.cmake
foreach(var BUILD_DIR PREFIX LIBDIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "install_check: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}\n${err}")
endif()

set(expected
  bin/zovinfo
  bin/purgent
  ${LIBDIR}/libzov32sup.so
  include/zov/zov32sup.h
  share/applications/zovcomp.desktop
  share/applications/brindle.desktop
  share/icons/hicolor/scalable/apps/zovcomp.svg
  share/icons/hicolor/scalable/apps/brindle.svg)
foreach(file ${expected})
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "install_check: ${file} was not installed")
  endif()
endforeach()

# Every installed desktop entry names an icon that was installed with it.
foreach(entry zovcomp brindle)
  file(READ "${PREFIX}/share/applications/${entry}.desktop" text)
  if(NOT text MATCHES "\nIcon=${entry}\n" OR NOT text MATCHES "^\\[Desktop Entry\\]\n")
    message(FATAL_ERROR "install_check: ${entry}.desktop is not a desktop entry for its icon")
  endif()
endforeach()

execute_process(COMMAND "${PREFIX}/bin/zovinfo" --help
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT "${out}${err}" MATCHES "zovinfo")
  message(FATAL_ERROR "installed zovinfo --help failed (${rc}):\n${out}\n${err}")
endif()
message(STATUS "installed zovinfo --help: ok")

# The remover run without a command shows its usage and fails.
execute_process(COMMAND "${PREFIX}/bin/purgent"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "Usage: purgent uninstpgm")
  message(FATAL_ERROR "installed purgent without arguments (${rc}):\n${out}\n${err}")
endif()

# The compressor is checked when this build has one.
if(EXISTS "${PREFIX}/bin/zovcomp")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env QT_QPA_PLATFORM=offscreen
    "${PREFIX}/bin/zovcomp" --help
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installed zovcomp --help failed (${rc}):\n${out}\n${err}")
  endif()
  message(STATUS "installed zovcomp --help: ok")
else()
  message(STATUS "no zovcomp in this build: its --help was not run")
endif()

file(REMOVE_RECURSE "${PREFIX}")
