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

install(TARGETS korvante korvante-cli korvante-telemetry korvante-clip RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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

# The package's own documents: the copyright file, a changelog and the man
# pages of the three programs, made from docs/ (docs/man/ holds each page's
# name, synopsis and the parts the other documents do not say; the
# command-line tool's page carries docs/cli.md whole). go-md2man writes the
# pages; without it they are left out and the build says so.
set(KORVANTE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/korvante)
set(korvante_doc_out ${PROJECT_BINARY_DIR}/doc)
set(korvante_doc_script ${PROJECT_SOURCE_DIR}/cmake/make_doc_file.cmake)
find_program(KORVANTE_MD2MAN go-md2man)
set(korvante_doc_files ${korvante_doc_out}/changelog.gz)
# Who answers for the package; a release build names a real address here
# (the default's host "localhost" is one lintian reports as bogus).
set(KORVANTE_PACKAGE_MAINTAINER "KORVANTE VIEWER developers <korvante@localhost>" CACHE STRING
    "Maintainer of the Debian package (name <address>)")
add_custom_command(OUTPUT ${korvante_doc_out}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${korvante_doc_out}
  COMMAND ${CMAKE_COMMAND} -DKIND=text -DPARTS=${PROJECT_SOURCE_DIR}/resources/debian/changelog.in
          -DOUT=${korvante_doc_out}/changelog.gz -DVERSION=${PROJECT_VERSION}
          "-DMAINTAINER=${KORVANTE_PACKAGE_MAINTAINER}" -P ${korvante_doc_script}
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${korvante_doc_script}
  COMMENT "Package changelog" VERBATIM)
set(korvante_man_pages)
if(KORVANTE_MD2MAN)
  set(korvante_man_korvante ${PROJECT_SOURCE_DIR}/docs/man/korvante.1.md)
  set(korvante_man_korvante-cli ${PROJECT_SOURCE_DIR}/docs/man/korvante-cli.1.md ${PROJECT_SOURCE_DIR}/docs/cli.md)
  set(korvante_man_korvante-telemetry ${PROJECT_SOURCE_DIR}/docs/man/korvante-telemetry.1.md)
  set(korvante_man_korvante-clip ${PROJECT_SOURCE_DIR}/docs/man/korvante-clip.1.md)
  foreach(page korvante korvante-cli korvante-telemetry korvante-clip)
    set(parts ${korvante_man_${page}})
    string(REPLACE ";" "|" parts_arg "${parts}")
    add_custom_command(OUTPUT ${korvante_doc_out}/${page}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${korvante_doc_out}
      COMMAND ${CMAKE_COMMAND} -DKIND=man "-DPARTS=${parts_arg}" -DOUT=${korvante_doc_out}/${page}.1.gz
              -DMD2MAN=${KORVANTE_MD2MAN} -DVERSION=${PROJECT_VERSION} -P ${korvante_doc_script}
      DEPENDS ${parts} ${korvante_doc_script}
      COMMENT "Man page ${page}(1)" VERBATIM)
    list(APPEND korvante_man_pages ${korvante_doc_out}/${page}.1.gz)
  endforeach()
else()
  message(STATUS "go-md2man not found: the man pages are left out of the installation")
endif()
add_custom_target(korvante-docs ALL DEPENDS ${korvante_doc_files} ${korvante_man_pages})
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${korvante_doc_files} DESTINATION ${KORVANTE_DOC_DIR})
# What lintian reports that is meant so, each with its reason in the file.
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/korvante.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME korvante)
if(korvante_man_pages)
  install(FILES ${korvante_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME korvante)
set(CPACK_PACKAGE_VENDOR "KORVANTE VIEWER")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Viewer for the recordings of a two-channel dash camera")
# The long description, one line of the control file per line here.
set(CPACK_PACKAGE_DESCRIPTION
  "Plays the front and rear video of a dash camera's recordings in step with
sound, shows the G-forces, speed and position on a map, searches by date and
speed, repairs recordings that a power cut left unfinished, saves pictures,
prints an accident report, edits the camera's settings and prepares its card.
korvante-cli lists, searches, repairs and exports recordings without a display.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY korvante)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KORVANTE_PACKAGE_MAINTAINER}")
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
