# Screen capture source and pointer control on X11.
add_library(lumacro_platform_capture STATIC
  platform/linux/screen_grabber_x11.cpp
  platform/linux/cursor_control_x11.cpp)
target_link_libraries(lumacro_platform_capture
  PUBLIC lumacro_support
  PRIVATE X11::X11 X11::Xext X11::Xfixes X11::Xtst X11::Xrandr)
