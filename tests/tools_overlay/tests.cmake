# The classroom overlays on private X servers, with and without a
# compositing manager, checked through the screen capture.
lumacro3_test_program(test_tools_overlay tools_overlay lumacro_tools lumacro_platform_x11_grabber)
