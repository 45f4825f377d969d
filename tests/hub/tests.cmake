# Main hub on the UI thread: private messages, tray, hub socket, network watch.
lumacro3_test_program(test_hub hub lumacro_hub phone_client)
# The stand-in drawing-board library: the hub closes the board for media.
add_dependencies(test_hub fake_drawing_board)
target_compile_definitions(test_hub PRIVATE FAKE_BOARD_PATH="$<TARGET_FILE:fake_drawing_board>")
