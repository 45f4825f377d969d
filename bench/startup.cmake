# Start-up and idle cost of the whole program, measured with the reference client.
lumacro3_bench(bench_startup phone_client)
target_compile_definitions(bench_startup PRIVATE LUMACRO3_BIN_DIR="${LUMACRO3_BIN_DIR}")
add_dependencies(bench_startup lumacro3)
