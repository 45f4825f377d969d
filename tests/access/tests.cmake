# Who may control the PC: no control before the handshake, watching phones
# only watch, the teacher's approval of new phones and the connect window's
# phone list, over loopback with the real session server.
lumacro3_test_program(test_access access lumacro_dispatch lumacro_input lumacro_stream lumacro_capture
  lumacro_access lumacro_connect lumacro_settings phone_client Qt6::Test)
