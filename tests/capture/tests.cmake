# Screen capture: the service with a fake source, and the X11 source against
# private Xvfb servers.
lumacro3_test_program(test_capture capture lumacro_capture lumacro_platform_x11_grabber
  X11::X11 X11::Xfixes)
