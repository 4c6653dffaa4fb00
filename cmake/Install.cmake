# What `cmake --install` puts under the prefix: both programs, the help beside them, the
# program's data, a desktop entry with its icon, the HTML help and the manual page. Every
# file is also staged at the same place under the build tree, so that the programs built in
# build/bin run whole without an install.
include(GNUInstallDirs)

set(KESTROVA_STAGED_FILES "")

# Installs the files to `destination` (relative to the prefix) and copies them to the same
# folder under the build tree whenever they change.
function(kestrova_install_files destination)
  install(FILES ${ARGN} DESTINATION ${destination})
  set(staged ${KESTROVA_STAGED_FILES})
  foreach(file ${ARGN})
    get_filename_component(name ${file} NAME)
    set(copy ${PROJECT_BINARY_DIR}/${destination}/${name})
    add_custom_command(OUTPUT ${copy}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${copy}
      DEPENDS ${file}
      VERBATIM)
    list(APPEND staged ${copy})
  endforeach()
  set(KESTROVA_STAGED_FILES ${staged} PARENT_SCOPE)
endfunction()

install(TARGETS kestrova-regedit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/kestrova-regedit.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET kestrova)
  install(TARGETS kestrova RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(data ${PROJECT_SOURCE_DIR}/data)
  kestrova_install_files(${CMAKE_INSTALL_DATADIR}/kestrova ${data}/default-classes.reg)
  kestrova_install_files(${CMAKE_INSTALL_DATADIR}/kestrova/icons
    ${data}/icons/kestrova-types.dll ${data}/icons/kestrova-types.ico)
  kestrova_install_files(${CMAKE_INSTALL_DATADIR}/applications ${data}/kestrova.desktop)
  kestrova_install_files(${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps ${data}/icons/kestrova.svg)
  # The pages of the compiled help, for desktops that have nothing to open a CHM file with.
  file(GLOB help_pages CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/docs/help/*.html ${PROJECT_SOURCE_DIR}/docs/help/*.css)
  kestrova_install_files(${CMAKE_INSTALL_DATADIR}/doc/kestrova/html ${help_pages})
  # The help command looks for zor20.chm in the program's own folder, where docs/ builds it.
  install(FILES $<TARGET_FILE_DIR:kestrova>/zor20.chm DESTINATION ${CMAKE_INSTALL_BINDIR} OPTIONAL)
  add_custom_target(kestrova_stage ALL DEPENDS ${KESTROVA_STAGED_FILES})
  add_dependencies(kestrova kestrova_stage)
endif()
