# Debian packages (cpack -G DEB), split the Debian way by install component:
#   runtime    libzovcod32-1     the codec library
#   zovdec     libzovdec1        the decoding library for other programs
#   zovvfw     libzovvfw1        the compression manager other programs drive the codec through
#   dev        libzov-dev        headers, pkg-config and CMake files, the development links
#   programs   zov               zovcomp, brindle, zovinfo, the installer's support pieces
#   gstreamer  gstreamer1.0-zov  the GStreamer plugin (when it is built)
#   server     zevserve          the movie server with its systemd units
# Build them with scripts/package.sh, which configures a distribution build (prefix /usr, no
# RPATH, dpkg-buildflags) and checks the result with lintian.
set(zov_deb_components runtime zovdec zovvfw dev programs server)
if(TARGET gstzov)
  list(APPEND zov_deb_components gstreamer)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zov)
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ZOV developers <zov@orvane.com>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${zov_deb_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.orvane.com/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# dpkg-shlibdeps finds our own libraries in the build tree; the packages that need them depend
# on the runtime package by name below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
foreach(library zovcod32 zovdec zov32 zovvfw)  # dirs of our shared libraries
  if(TARGET ${library})
    get_target_property(dir ${library} BINARY_DIR)
    list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${dir})
  endif()
endforeach()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")

set(zov_same_version "(= ${PROJECT_VERSION})")
set(zov_codec_package libzovcod32-${ZOV_SOVERSION})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${zov_codec_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The library cache is refreshed through dpkg's ldconfig trigger, not by maintainer scripts
# calling ldconfig (CPack writes those unless the package brings its own).
set(zov_runtime_control ${PROJECT_BINARY_DIR}/debian-runtime)
foreach(file triggers postinst postrm)
  configure_file(${PROJECT_SOURCE_DIR}/setup/debian/runtime.${file} ${zov_runtime_control}/${file}
    COPYONLY)
endforeach()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  "${zov_runtime_control}/triggers;${zov_runtime_control}/postinst;${zov_runtime_control}/postrm")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "ZOV video codec library
The ZOV1/ZOV2 codec library with its Video-for-Windows-style driver entry, its
configuration exports and the network movie source.")

set(CPACK_DEBIAN_ZOVDEC_PACKAGE_NAME libzovdec${ZOV_SOVERSION})
set(CPACK_DEBIAN_ZOVDEC_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_ZOVDEC_PACKAGE_CONTROL_EXTRA ${CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA})
set(CPACK_DEBIAN_ZOVDEC_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_ZOVDEC_DESCRIPTION "ZOV video decoding library
libzovdec decodes ZOV1/ZOV2 video frames into pictures in the caller's memory,
for players, converters and thumbnailers; one decoder per stream, any number
of them on any threads.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzov-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_ZOVVFW_PACKAGE_NAME libzovvfw${ZOV_SOVERSION})
set(CPACK_DEBIAN_ZOVVFW_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_ZOVVFW_PACKAGE_DEPENDS "${zov_codec_package} ${zov_same_version}")
set(CPACK_DEBIAN_ZOVVFW_PACKAGE_CONTROL_EXTRA ${CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA})
set(CPACK_DEBIAN_ZOVVFW_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_ZOVVFW_DESCRIPTION "ZOV video compression manager library
libzovvfw is the Video-for-Windows-style compression manager (ICOpen,
ICSendMessage, ICDecompress, ICCompress, ICClose) through which other programs
load and drive the ZOV codec library.")

set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "${zov_codec_package} ${zov_same_version}, libzovdec${ZOV_SOVERSION} ${zov_same_version}, libzovvfw${ZOV_SOVERSION} ${zov_same_version}")
set(CPACK_DEBIAN_DEV_DESCRIPTION "ZOV video codec libraries - development files
Headers, pkg-config files, the CMake package (find_package(ZOV)) and the
development links for building programs against the ZOV libraries.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME zov)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "${zov_codec_package} ${zov_same_version}")
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "video compressor and movie player for ZOV video
zovcomp compresses AVI files, YUV4MPEG2 streams and edit lists into ZOV2
movies, in a window or from the command line; brindle plays them with their
sound; zovinfo inspects, checks and decodes ZOV movies.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME zevserve)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
# The operator's configuration file is theirs: dpkg keeps their changes on upgrades.
file(WRITE ${PROJECT_BINARY_DIR}/debian-server/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/zevserve.conf\n")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian-server/conffiles)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "ZOV movie server
zevserve serves ZOV stream files to networked movie players, which play a
movie while it downloads. Runs as a systemd service, with socket activation.")

set(CPACK_DEBIAN_GSTREAMER_PACKAGE_NAME gstreamer1.0-zov)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_DEPENDS "libzovdec${ZOV_SOVERSION} ${zov_same_version}")
set(CPACK_DEBIAN_GSTREAMER_DESCRIPTION "GStreamer plugin for ZOV video
The zovdec element decodes ZOV1 and ZOV2 video, so that every GStreamer
player, file manager thumbnailer and pipeline shows ZOV movies.")

# Each package carries its copyright file and changelog where Debian expects them.
if(ZOV_DEBIAN_DOCS)
  string(TIMESTAMP zov_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(zov_debian_changelog ${PROJECT_BINARY_DIR}/debian-changelog)
  file(WRITE ${zov_debian_changelog} "zov (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${PROJECT_VERSION}; see CHANGELOG.md in the sources.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${zov_changelog_date}\n")
  execute_process(COMMAND gzip -9nf ${zov_debian_changelog})
  foreach(component ${zov_deb_components})
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    install(FILES ${PROJECT_SOURCE_DIR}/setup/debian/copyright
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    install(FILES ${zov_debian_changelog}.gz RENAME changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()

include(CPack)
