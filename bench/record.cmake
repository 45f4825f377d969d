# CPU and audio/video drift of the lesson recorder against the ffmpeg command
# line recording the same display and sound server.
if(TARGET lumacro_record AND TARGET lumacro_capture)
  lumacro3_bench(bench_record lumacro_record lumacro_capture lumacro_platform_capture X11::X11)
endif()
