# Remote input latency against xdotool (needs Xvfb and xdotool at run time).
lumacro3_bench(bench_input lumacro_input lumacro_dispatch lumacro_platform_x11_input lumacro_net phone_client X11::X11)
