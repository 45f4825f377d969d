# The lesson recorder and its audio parts, against a private Xvfb and sound server.
lumacro3_test_program(test_record record lumacro_record lumacro_capture lumacro_platform_x11_grabber
  lumacro_dispatch phone_client)
add_dependencies(test_record lumacro3-phone)
