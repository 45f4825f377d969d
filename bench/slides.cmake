# Slide shows with LibreOffice Impress: push to announce and goto to screen.
lumacro3_bench(bench_slides phone_client X11::X11 X11::Xtst)
target_compile_definitions(bench_slides PRIVATE LUMACRO3_BIN_DIR="${LUMACRO3_BIN_DIR}")
add_dependencies(bench_slides lumacro3 lumacro3-phone copy_data)
