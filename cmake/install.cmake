# Desktop integration installed beside the programs: menu entries, icons and AppStream metadata
# for the compressor and the player, under their reverse-DNS IDs. The programs, libraries and
# headers install from their own folders.
foreach(id com.orvane.zovcomp com.orvane.brindle)
  install(FILES ${PROJECT_SOURCE_DIR}/setup/desktop/${id}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT programs)
  install(FILES ${PROJECT_SOURCE_DIR}/setup/desktop/${id}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT programs)
  configure_file(${PROJECT_SOURCE_DIR}/setup/desktop/${id}.metainfo.xml
    ${PROJECT_BINARY_DIR}/metainfo/${id}.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/metainfo/${id}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT programs)
endforeach()

# find_package(ZOV) for programs built against the installed libraries.
include(CMakePackageConfigHelpers)
set(zov_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ZOV)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZOVConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZOVConfig.cmake INSTALL_DESTINATION ${zov_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZOVConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(EXPORT ZOVTargets NAMESPACE ZOV:: DESTINATION ${zov_cmake_dir} COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/ZOVConfig.cmake ${PROJECT_BINARY_DIR}/ZOVConfigVersion.cmake
  DESTINATION ${zov_cmake_dir} COMPONENT dev)
