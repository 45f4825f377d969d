# Synthetic input (XTest), the system pointer (XFixes) and the master volume
# (PulseAudio).
if(NOT TARGET PkgConfig::PULSE)
  pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
endif()
add_library(lumacro_platform_input STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/input_xtest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/vk_keysyms.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/volume_pulse.cpp)
target_link_libraries(lumacro_platform_input
  PUBLIC lumacro_support
  PRIVATE X11::X11 X11::Xtst X11::Xfixes X11::Xrandr PkgConfig::PULSE)
