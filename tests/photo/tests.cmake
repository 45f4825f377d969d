# The photo wall on a private X server with photos from a local HTTP server,
# and the drawing-board library loaded through the hub's bridge.
find_package(Qt6 REQUIRED COMPONENTS Test)
lumacro3_test_program(test_photo photo lumacro_photo lumacro_tools lumacro_dispatch
  lumacro_platform_x11_grabber SDL2::SDL2 Qt6::Test)
target_sources(test_photo PRIVATE ${CMAKE_SOURCE_DIR}/src/sketchpad/board_page.cpp)
add_dependencies(test_photo Sketchpad4 copy_data)
target_compile_definitions(test_photo PRIVATE SKETCHPAD_PATH="$<TARGET_FILE:Sketchpad4>")
# The end-to-end photo wall and drawing-board test runs the program with its library.
add_dependencies(test_e2e Sketchpad4)
