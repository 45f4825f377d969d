lumacro3_test_program(test_connect connect lumacro_connect phone_client)
# The end-to-end connect test runs the built program.
add_dependencies(test_connect lumacro3 copy_data)
