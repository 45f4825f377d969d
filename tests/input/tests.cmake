lumacro3_test_program(test_input input lumacro_input lumacro_input_qt lumacro_platform_input X11::X11)
if(TARGET test_input AND TARGET copy_data)
  add_dependencies(test_input copy_data)
endif()
