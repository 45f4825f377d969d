# CPU and audio/video drift of the lesson recorder against the ffmpeg command
# line recording the same display and sound server.
lumacro3_bench(bench_record lumacro_record lumacro_capture lumacro_platform_x11_grabber X11::X11)
