# Installing the viewer like a desktop program, and its Debian package.
#
#   cmake --install <build> [--prefix /usr/local]
#   cd <build> && cpack -G DEB
#
# The programs go to bin/, the map's browser module to lib/korvante/, the
# viewer's own files (skin library, configuration, map page with Leaflet) to
# share/korvante/, where the viewer looks for them
# when they are not beside it (core/platform/resource_path.h); the desktop
# entry and the icon go where the desktop's menus find them.

include(GNUInstallDirs)

set(KORVANTE_DATA_DIR ${CMAKE_INSTALL_DATADIR}/korvante)

install(TARGETS korvante korvante-cli korvante-telemetry RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The map's browser engine, loaded by the viewer at run time from here.
install(TARGETS korvante-map-browser LIBRARY DESTINATION lib/korvante)
install(FILES
    ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ResourceDll.rcc
    ${PROJECT_SOURCE_DIR}/resources/viewerconfig.cfg
    ${PROJECT_SOURCE_DIR}/resources/mapView.htm
  DESTINATION ${KORVANTE_DATA_DIR})
# Leaflet is copied beside the page at build time when scripts/setup fetched it.
if(EXISTS ${PROJECT_SOURCE_DIR}/third_party/node_modules/leaflet/dist/leaflet.js)
  install(DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/leaflet DESTINATION ${KORVANTE_DATA_DIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/resources/korvante.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Drawn by tools/skin-gen with the skin library.
install(FILES ${PROJECT_BINARY_DIR}/tools/skin-gen/images/korvante.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

set(CPACK_PACKAGE_NAME korvante)
set(CPACK_PACKAGE_VENDOR "KORVANTE VIEWER")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Viewer for the recordings of a two-channel dash camera")
set(CPACK_PACKAGE_DESCRIPTION
  "Plays the front and rear video of a dash camera's recordings in step with sound, shows the G-forces, speed and position, searches by date and speed, repairs unfinished recordings, saves pictures and prints a report.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY korvante)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KORVANTE VIEWER developers <korvante@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The libraries the programs link, as dpkg-shlibdeps finds them, plus what
# is loaded at run time only: the map browser's helper process and the
# viewer's FFmpeg (opened by name, so the scan cannot see it).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(korvante_runtime_depends "libqt6webenginecore6-bin")
foreach(lib avutil swresample swscale avcodec avformat)
  string(REGEX MATCH "^[0-9]+" major "${FFMPEG_lib${lib}_VERSION}")
  string(APPEND korvante_runtime_depends ", lib${lib}${major}")
endforeach()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${korvante_runtime_depends}")
include(CPack)
