# What `cmake --install` puts under the prefix: both programs, the help beside them, the
# program's data, a desktop entry with its icon, and the manual page.
include(GNUInstallDirs)

install(TARGETS kestrova-regedit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/kestrova-regedit.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET kestrova)
  install(TARGETS kestrova RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/data/default-classes.reg DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrova)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/kestrova-types.dll ${PROJECT_SOURCE_DIR}/data/icons/kestrova-types.ico
          DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrova/icons)
  install(FILES ${PROJECT_SOURCE_DIR}/data/kestrova.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/kestrova.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # The help command looks for zor20.chm in the program's own folder.
  install(FILES ${PROJECT_BINARY_DIR}/app/zor20.chm DESTINATION ${CMAKE_INSTALL_BINDIR} OPTIONAL)
endif()
