# The slide-show bridge against a fake helper on the test's loopback address.
lumacro3_test_program(test_slides slides lumacro_slides)
