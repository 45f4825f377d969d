# Remote input handlers with fakes, and XTest, volume, clipboard and the
# presentation cursor against private Xvfb and sound servers.
lumacro3_test_program(test_input input lumacro_input lumacro_input_qt lumacro_dispatch lumacro_platform_x11_input
  lumacro_platform_pulse_volume X11::X11)
add_dependencies(test_input copy_data)
