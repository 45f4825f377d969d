# The camera engine over fake devices, the V4L2 backend on this machine's
# nodes (none here), and the camera window on private Xvfb servers.
lumacro3_test_program(test_camera camera lumacro_camera lumacro_camera_window
  lumacro_platform_fake_camera lumacro_platform_v4l2 lumacro_platform_x11_grabber lumacro_tools
  Qt6::Widgets SDL2::SDL2)
