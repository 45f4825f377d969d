lumacro3_test_program(test_record record lumacro_record lumacro_capture lumacro_platform_capture
  lumacro_dispatch phone_client)
if(TARGET test_record AND TARGET lumacro3-phone)
  add_dependencies(test_record lumacro3-phone)
endif()
