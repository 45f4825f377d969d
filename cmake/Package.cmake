# Install layout and the Debian package.
#
# Everything the program reads from its own folder goes to opt/lumacro3; the
# launcher link, desktop entry and icons go under usr/. Destinations are
# relative to the install prefix, and the package is built with the prefix "/",
# so `cmake --install build --prefix DIR` gives the package's tree under DIR.
include(GNUInstallDirs)

set(LUMACRO3_INSTALL_DIR opt/lumacro3)

install(TARGETS lumacro3 taskagent lumacro3-phone
        RUNTIME DESTINATION ${LUMACRO3_INSTALL_DIR})
# The drawing board, loaded from beside the program.
install(TARGETS Sketchpad4 LIBRARY DESTINATION ${LUMACRO3_INSTALL_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/
        DESTINATION ${LUMACRO3_INSTALL_DIR}
        USE_SOURCE_PERMISSIONS)

# Relative links, so they also hold in a tree installed under another prefix.
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin\")
  foreach(name lumacro3 lumacro3-phone)
    file(CREATE_LINK ../../${LUMACRO3_INSTALL_DIR}/\${name}
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin/\${name}\" SYMBOLIC)
  endforeach()
")

install(FILES ${CMAKE_SOURCE_DIR}/packaging/lumacro3.desktop DESTINATION usr/share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/lumacro3.svg
        DESTINATION usr/share/icons/hicolor/scalable/apps)
foreach(size 48 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/lumacro3-${size}.png
          DESTINATION usr/share/icons/hicolor/${size}x${size}/apps
          RENAME lumacro3.png)
endforeach()

# The Debian package (bash scripts/package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumacro3)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_SET_DESTDIR OFF)
set(CPACK_PACKAGE_CONTACT "Lumacro3 developers <lumacro3@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Classroom presentation: show and control this PC from the teacher's phone")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Classroom presentation: show and control this PC from the teacher's phone
 The teacher's phone finds this PC on the local network and drives it: the
 screen is streamed to the phones, the phone moves the pointer and types,
 draws ink, a spotlight or a magnifier over the screen, steps through slide
 shows, shows photos, plays media, receives files and records lessons.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the programs link are computed by dpkg-shlibdeps; the programs the
# program starts (helper servers, opener, screenshot tools) are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "nginx-light | nginx-core | nginx, python3, python3-pyftpdlib, xdg-utils, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "pulseaudio | pipewire-pulse, fonts-noto-cjk, network-manager, libreoffice-impress, python3-uno")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
