# The media player: the engine against generated clips, the live picture
# and the phone's sound; the window on a private X server with a private
# sound server.
find_package(Qt6 REQUIRED COMPONENTS Test)
lumacro3_test_program(test_media media lumacro_player lumacro_media phone_media Qt6::Test)
