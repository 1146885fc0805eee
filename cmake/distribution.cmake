# What an installation looks like: folders, RPATH, the distribution's compiler flags, and the
# version every library and program carries.
include(GNUInstallDirs)

# Installer plug-ins (the setup support library) are loaded by path, never linked: they live in
# a folder of our own, not in the public library folder.
set(ZOV_INSTALL_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/zov")

# Installed programs find our libraries in the prefix's library folder wherever the prefix is.
# Distributions install into the system folders and turn this off (-DZOV_INSTALL_RPATH=OFF).
if(ZOV_INSTALL_RPATH)
  set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()

# CMake takes CFLAGS, CXXFLAGS and LDFLAGS from the environment but not CPPFLAGS, which is where
# dpkg-buildflags puts -D_FORTIFY_SOURCE.
if(DEFINED ENV{CPPFLAGS} AND NOT "$ENV{CPPFLAGS}" STREQUAL "")
  separate_arguments(zov_env_cppflags UNIX_COMMAND "$ENV{CPPFLAGS}")
  add_compile_options(${zov_env_cppflags})
endif()

# zov/version.h: the version for programs (--version) and for code built against our headers.
configure_file(${PROJECT_SOURCE_DIR}/include/zov/version.h.in
  ${PROJECT_BINARY_DIR}/include/zov/version.h @ONLY)
add_library(zov_version INTERFACE)
target_include_directories(zov_version INTERFACE
  $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(FILES ${PROJECT_BINARY_DIR}/include/zov/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zov COMPONENT dev)

# A shared library of ours: versioned file name, SONAME of the major version.
function(zov_versioned_library target)
  set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${ZOV_SOVERSION})
endfunction()

# pkg-config files find their prefix from their own place, so an installation moved with
# `cmake --install --prefix X` (or into a DESTDIR) still describes itself correctly.
file(RELATIVE_PATH zov_pc_up "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" zov_pc_up "${zov_pc_up}")
set(ZOV_PC_PREFIX "\${pcfiledir}/${zov_pc_up}")
