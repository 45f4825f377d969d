# The slide-show bridge in the running program with a fake helper.
lumacro3_test_program(test_slides_e2e slides_e2e lumacro_net lumacro_platform_net phone_client)
add_dependencies(test_slides_e2e lumacro3 lumacro3-phone copy_data)
