# SPDX-License-Identifier: GPL-2.0-or-later
# Quarnix as an installed desktop program: the two programs, the desktop
# entry, the icon, the two file types, the AppStream metainfo and the man
# pages, with tests that check them with the desktop's own validators.
# Included at the end of the top-level CMakeLists.txt, once the quarnix and
# quarnix-tool targets exist.

if(QX_FUZZ)
  return()
endif()

include(GNUInstallDirs)

# The application's id: the desktop entry, the icon and the metainfo are
# named after it, and the app names its windows' desktop entry with it.
set(QX_APP_ID org.quarnix.Quarnix)
set(QX_DATA ${CMAKE_SOURCE_DIR}/data)
set(QX_DATA_OUT ${CMAKE_BINARY_DIR}/data)

target_compile_definitions(quarnix PRIVATE QX_VERSION="${PROJECT_VERSION}" QX_APP_ID="${QX_APP_ID}")
# The icon built into the app, for a window icon where no icon theme has it.
set_target_properties(quarnix PROPERTIES AUTORCC ON)
target_sources(quarnix PRIVATE ${QX_DATA}/quarnix.qrc)

# The 256 px bitmap icon, rendered from the scalable one by Qt Svg.
add_executable(qx_render_icon ${QX_DATA}/icons/render_icon.cpp)
target_link_libraries(qx_render_icon PRIVATE Qt6::Gui Qt6::Svg)
set(QX_ICON_PNG ${QX_DATA_OUT}/256x256/${QX_APP_ID}.png)
add_custom_command(OUTPUT ${QX_ICON_PNG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_DATA_OUT}/256x256
  COMMAND qx_render_icon ${QX_DATA}/icons/${QX_APP_ID}.svg 256 ${QX_ICON_PNG}
  DEPENDS qx_render_icon ${QX_DATA}/icons/${QX_APP_ID}.svg
  COMMENT "Rendering the 256 px icon"
  VERBATIM)

# Man pages, made by help2man from the programs' own --help and --version
# (and, for quarnix-tool, every command's --help).
find_program(QX_HELP2MAN help2man)
if(NOT QX_HELP2MAN)
  message(FATAL_ERROR "help2man not found: run scripts/install-deps.sh")
endif()
set(QX_MAN_NAME_quarnix "look into a game's resource archives and exchange their textures")
set(QX_MAN_NAME_quarnix-tool "list, extract, export and import the contents of a game's resource archives")
set(QX_MAN_PAGES)
foreach(prog quarnix quarnix-tool)
  set(page ${QX_DATA_OUT}/man/${prog}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${QX_HELP2MAN} -DPROGRAM=$<TARGET_FILE:${prog}>
            -DOUT=${page} -DNAME=${QX_MAN_NAME_${prog}} -DSOURCE=Quarnix\ ${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS ${prog} ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
    COMMENT "Writing the man page of ${prog}"
    VERBATIM)
  list(APPEND QX_MAN_PAGES ${page})
endforeach()

add_custom_target(qx_desktop_files ALL DEPENDS ${QX_ICON_PNG} ${QX_MAN_PAGES})

install(TARGETS quarnix quarnix-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QX_DATA}/${QX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QX_DATA}/${QX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${QX_DATA}/${QX_APP_ID}.mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME ${QX_APP_ID}.xml)
install(FILES ${QX_DATA}/icons/${QX_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${QX_ICON_PNG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
install(FILES ${QX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The licence (GPL-2.0-or-later), in the machine-readable form a Debian
# package carries as its copyright file.
install(FILES ${QX_DATA}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quarnix)

# The installed and packaged files are those of the release build; the
# sanitized build (QX_SANITIZE) builds only the tests and the tool, and
# checks memory, not packaging.
if(QX_TESTS AND NOT QX_SANITIZE)
  find_program(QX_DESKTOP_FILE_VALIDATE desktop-file-validate)
  find_program(QX_APPSTREAMCLI appstreamcli)
  find_program(QX_UPDATE_MIME_DATABASE update-mime-database)
  if(NOT QX_DESKTOP_FILE_VALIDATE OR NOT QX_APPSTREAMCLI OR NOT QX_UPDATE_MIME_DATABASE)
    message(FATAL_ERROR "desktop-file-validate, appstreamcli or update-mime-database not found: "
                        "run scripts/install-deps.sh")
  endif()
  add_test(NAME desktop_install
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/desktop/install_test.sh ${CMAKE_BINARY_DIR} ${QX_APP_ID}
                   ${PROJECT_VERSION})
endif()
