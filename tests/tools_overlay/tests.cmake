# The classroom overlays on private X servers, with and without a
# compositing manager and a window manager, checked through the screen
# capture; and routed by the main hub.
find_package(Qt6 REQUIRED COMPONENTS Test)
lumacro3_test_program(test_tools_overlay tools_overlay lumacro_tools lumacro_hub
  lumacro_platform_x11_grabber Qt6::Test)
