# Desktop integration installed beside the programs: menu entries and icons for the compressor
# and the player. The programs, libraries and headers install from their own folders.
install(FILES
  ${PROJECT_SOURCE_DIR}/setup/desktop/zovcomp.desktop
  ${PROJECT_SOURCE_DIR}/setup/desktop/brindle.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES
  ${PROJECT_SOURCE_DIR}/setup/desktop/zovcomp.svg
  ${PROJECT_SOURCE_DIR}/setup/desktop/brindle.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
