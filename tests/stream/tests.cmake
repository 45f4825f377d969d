# Screen encoder, the live stream over the sessions and the live stream
# service. Servers bind the fixed ports on a loopback address of their own.
lumacro3_test_program(test_stream stream lumacro_stream lumacro_capture lumacro_platform_x11_grabber
  phone_client X11::X11 X11::Xfixes PkgConfig::LIBAVCODEC PkgConfig::LIBAVUTIL)
add_dependencies(test_stream lumacro3-phone)
