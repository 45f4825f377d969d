# GNOME Wayland backends: session detection and the key table anywhere; the
# PipeWire grabber and the mutter injector inside a headless GNOME session
# (scripts/with-gnome-wayland), where they are checked through an XWayland
# window.
lumacro3_test_program(test_wayland wayland lumacro_platform_wayland lumacro_platform_x11_input
  lumacro_platform_x11_screen X11::X11 PkgConfig::DBUS)
add_test(NAME wayland.gnome_rig COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-gnome-wayland
  $<TARGET_FILE:test_wayland> --gtest_filter=GnomeRig*)
# One headless GNOME session at a time: each renders the screen in software.
set_tests_properties(wayland.gnome_rig PROPERTIES LABELS wayland TIMEOUT 180 RESOURCE_LOCK gnome_session)
# The whole program in the headless GNOME session: live stream colours, the
# annotation ink in it, and phone clicks, keys and text reaching programs.
add_test(NAME wayland.program_check COMMAND ${CMAKE_SOURCE_DIR}/scripts/wayland-check)
set_tests_properties(wayland.program_check PROPERTIES LABELS wayland TIMEOUT 180 RESOURCE_LOCK gnome_session)
# The same checks on a private Xvfb with the X11 backends.
add_test(NAME wayland.program_check_x11 COMMAND ${CMAKE_SOURCE_DIR}/scripts/wayland-check --x11)
set_tests_properties(wayland.program_check_x11 PROPERTIES LABELS wayland TIMEOUT 120)
# The desktop portal's path in the headless GNOME session with the portal
# running: the consent dialogs are accepted with clicks through mutter, a
# click lands where it was aimed. Left out of the wayland label to keep it
# short (wayland.portal_check covers the program's path): ctest -L portal.
add_test(NAME portal.portal_rig COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-portal
  $<TARGET_FILE:test_wayland> --gtest_filter=PortalRig*)
set_tests_properties(portal.portal_rig PROPERTIES LABELS portal TIMEOUT 180 RESOURCE_LOCK gnome_session)
# The whole program through the desktop portal: consent asked and given, the
# same checks as above, and a second start without the screen's dialog.
add_test(NAME wayland.portal_check COMMAND ${CMAKE_SOURCE_DIR}/scripts/wayland-check --portal)
set_tests_properties(wayland.portal_check PROPERTIES LABELS wayland TIMEOUT 180 RESOURCE_LOCK gnome_session)
