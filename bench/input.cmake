# Remote input latency against xdotool (needs Xvfb and xdotool at run time).
if(TARGET lumacro_input AND TARGET lumacro_platform_input)
  lumacro3_bench(bench_input lumacro_input lumacro_platform_input lumacro_net phone_client X11::X11)
endif()
