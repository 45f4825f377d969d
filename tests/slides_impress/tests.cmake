# A real slide show with LibreOffice Impress on a private X server (label
# slides_impress, so it can be run on its own; about 10-20 s).
lumacro3_test_program(test_slides_impress slides_impress lumacro_net lumacro_platform_net phone_client)
add_dependencies(test_slides_impress lumacro3 lumacro3-phone copy_data)
