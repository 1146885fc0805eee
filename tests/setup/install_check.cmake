# Installs the build into a fresh prefix and runs the installed programs as a user would.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<empty folder> -DLIBDIR=<lib dir> -DVERSION=<x.y.z>
#         -DSOVERSION=<major> -P install_check.cmake
foreach(var BUILD_DIR PREFIX LIBDIR VERSION SOVERSION)
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

set(private ${LIBDIR}/zov)
set(expected
  bin/zovinfo
  bin/zevserve
  ${private}/purgent
  ${private}/libzov32sup.so
  ${LIBDIR}/libzovcod32.so.${SOVERSION}
  ${LIBDIR}/libzovcod32.so
  ${LIBDIR}/pkgconfig/zovcod32.pc
  ${LIBDIR}/cmake/ZOV/ZOVConfig.cmake
  include/zov/zov32sup.h
  include/zov/zovcod32.h
  include/zov/version.h
  share/bash-completion/completions/zovcomp
  share/bash-completion/completions/zovinfo
  share/applications/com.orvane.zovcomp.desktop
  share/applications/com.orvane.brindle.desktop
  share/metainfo/com.orvane.zovcomp.metainfo.xml
  share/metainfo/com.orvane.brindle.metainfo.xml
  share/icons/hicolor/scalable/apps/com.orvane.zovcomp.svg
  share/icons/hicolor/scalable/apps/com.orvane.brindle.svg)
foreach(file ${expected})
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "install_check: ${file} was not installed")
  endif()
endforeach()
# The server as an operator runs it: its systemd units beside the configuration file, and the
# unit's documentation one that is installed.
foreach(file lib/systemd/system/zevserve.service lib/systemd/system/zevserve.socket
    etc/zevserve.conf)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "install_check: ${file} was not installed")
  endif()
endforeach()
file(READ "${PREFIX}/lib/systemd/system/zevserve.service" unit)
string(REGEX MATCH "\nDocumentation=man:([a-z]+)\\(([1-8])\\)\n" documentation "${unit}")
if(NOT documentation OR
    NOT EXISTS "${PREFIX}/share/man/man${CMAKE_MATCH_2}/${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.gz")
  message(FATAL_ERROR "install_check: zevserve.service names no installed manual page")
endif()
if(NOT unit MATCHES "\nExecStart=[^\n]*/zevserve --config [^\n]*/zevserve\\.conf\n")
  message(FATAL_ERROR "install_check: zevserve.service does not run zevserve with its configuration")
endif()

# Nothing of the installer's own sits in the public folders.
foreach(file bin/purgent ${LIBDIR}/libzov32sup.so)
  if(EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "install_check: ${file} belongs in the private library folder")
  endif()
endforeach()

# Every installed desktop entry names an icon that was installed with it.
foreach(entry com.orvane.zovcomp com.orvane.brindle)
  file(READ "${PREFIX}/share/applications/${entry}.desktop" text)
  if(NOT text MATCHES "\nIcon=${entry}\n" OR NOT text MATCHES "^\\[Desktop Entry\\]\n")
    message(FATAL_ERROR "install_check: ${entry}.desktop is not a desktop entry for its icon")
  endif()
endforeach()

# Every program answers --version with one line "NAME VERSION" and --help on standard output,
# both with status 0, and without a display.
set(programs bin/zovinfo bin/zevserve ${private}/purgent)
foreach(windowed zovcomp brindle)
  if(EXISTS "${PREFIX}/bin/${windowed}")
    list(APPEND programs bin/${windowed})
  endif()
endforeach()
set(no_display --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM ZOV_HOME=${PREFIX}/home)
foreach(program ${programs})
  get_filename_component(name "${program}" NAME)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env ${no_display} "${PREFIX}/${program}" --version
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "${name} ${VERSION}\n")
    message(FATAL_ERROR "installed ${name} --version (${rc}): '${out}' ${err}")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env ${no_display} "${PREFIX}/${program}" --help
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  string(TOLOWER "${out}" lower)
  if(NOT rc EQUAL 0 OR NOT lower MATCHES "usage")
    message(FATAL_ERROR "installed ${name} --help (${rc}):\n${out}\n${err}")
  endif()
endforeach()
message(STATUS "--version and --help of ${programs}: ok")

# The player without a display says so in one line and exits 2 (the toolkit would abort).
if(EXISTS "${PREFIX}/bin/brindle")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env ${no_display} "${PREFIX}/bin/brindle"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  string(REGEX MATCHALL "\n" lines "${err}")
  list(LENGTH lines count)
  if(NOT rc EQUAL 2 OR NOT count EQUAL 1 OR NOT err MATCHES "^brindle: .*display")
    message(FATAL_ERROR "brindle without a display (${rc}):\n${out}\n${err}")
  endif()
endif()

# Every installed header compiles on its own, as C and as C++.
file(GLOB headers RELATIVE "${PREFIX}/include" "${PREFIX}/include/zov/*.h")
foreach(header ${headers})
  file(WRITE "${PREFIX}/check.c" "#include <${header}>\nint main(void) { return 0; }\n")
  foreach(compile "cc;-std=c99;-x;c" "c++;-std=c++17;-x;c++")
    execute_process(COMMAND ${compile} -Wall -Wextra -Werror -pedantic -fsyntax-only
      -I${PREFIX}/include "${PREFIX}/check.c" RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "installed header ${header} does not compile alone (${compile}):\n${err}")
    endif()
  endforeach()
endforeach()
message(STATUS "installed headers compile alone as C and C++: ${headers}")

# The pkg-config file describes the prefix it was installed into, and a program links with it.
set(ENV{PKG_CONFIG_PATH} "${PREFIX}/${LIBDIR}/pkgconfig")
execute_process(COMMAND pkg-config --cflags --libs zovcod32
  RESULT_VARIABLE rc OUTPUT_VARIABLE flags ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "-I([^ ]+)" include_flag "${flags}")
set(include_dir "${CMAKE_MATCH_1}")
if(include_dir)
  file(REAL_PATH "${include_dir}" include_dir)
endif()
file(REAL_PATH "${PREFIX}/include" installed_include)
if(NOT rc EQUAL 0 OR NOT include_dir STREQUAL installed_include)
  message(FATAL_ERROR "pkg-config zovcod32 from ${PREFIX} (${rc}): ${flags} ${err}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
file(WRITE "${PREFIX}/check.c" "#include <zov/zovcod32.h>\n#include <zov/version.h>\n"
  "int main(void) { return ZOVGetStyle(0) == 0 ? 0 : ZOV_VERSION_MAJOR; }\n")
execute_process(COMMAND cc "${PREFIX}/check.c" ${flags} -o "${PREFIX}/check"
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "a program does not link through pkg-config zovcod32:\n${err}")
endif()
message(STATUS "pkg-config zovcod32 from the installed prefix: ok")

# find_package(ZOV) finds the installed libraries.
file(WRITE "${PREFIX}/find/CMakeLists.txt" "cmake_minimum_required(VERSION 3.20)\n"
  "project(find_zov C)\nfind_package(ZOV ${VERSION} REQUIRED)\n"
  "add_executable(check ../check.c)\ntarget_link_libraries(check PRIVATE ZOV::zovcod32)\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${PREFIX}/find" -B "${PREFIX}/find/build"
  -DCMAKE_PREFIX_PATH=${PREFIX} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0)
  execute_process(COMMAND "${CMAKE_COMMAND}" --build "${PREFIX}/find/build"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "find_package(ZOV) from ${PREFIX} (${rc}):\n${out}\n${err}")
endif()
message(STATUS "find_package(ZOV): ok")

# The manual pages read without warnings and carry a NAME section the index understands.
file(GLOB_RECURSE pages "${PREFIX}/share/man/*.gz")
list(LENGTH pages count)
if(count LESS 8)
  message(FATAL_ERROR "install_check: ${count} manual pages installed, expected 8 or more")
endif()
find_program(MAN man)
find_program(LEXGROG lexgrog)
foreach(page ${pages})
  if(MAN)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env MANWIDTH=80 "${MAN}" --warnings -E UTF-8 -l "${page}"
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
      message(FATAL_ERROR "man --warnings ${page} (${rc}):\n${err}")
    endif()
  endif()
  if(LEXGROG)
    execute_process(COMMAND "${LEXGROG}" "${page}" RESULT_VARIABLE rc OUTPUT_VARIABLE out)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "lexgrog cannot read the NAME section of ${page}:\n${out}")
    endif()
  endif()
endforeach()
message(STATUS "${count} manual pages: man --warnings and lexgrog clean")

# The completions parse, and each defines its completion for its program.
foreach(program zovcomp zovinfo)
  execute_process(COMMAND bash -c "_init_completion() { return 1; }; source \"$1\" && complete -p ${program}"
    _ "${PREFIX}/share/bash-completion/completions/${program}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "_${program} ${program}")
    message(FATAL_ERROR "bash completion for ${program} (${rc}):\n${out}\n${err}")
  endif()
endforeach()

find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  file(GLOB metainfo "${PREFIX}/share/metainfo/*.xml")
  execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net ${metainfo}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate:\n${out}\n${err}")
  endif()
endif()

# The remover run without a command shows its usage and fails.
execute_process(COMMAND "${PREFIX}/${private}/purgent"
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
