# PCM output against a private sound server, with none, and in its clock-only mode.
lumacro3_test_program(test_audio audio lumacro_audio)
