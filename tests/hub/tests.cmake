# Main hub on the UI thread: private messages, tray, hub socket, network watch.
lumacro3_test_program(test_hub hub lumacro_hub phone_client)
