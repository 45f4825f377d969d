# Screen capture and the screen stream on a private Xvfb, each against the
# ffmpeg CLI (x11grab, libx264) measured in the same run.
if(TARGET lumacro_stream)
  if(NOT TARGET PkgConfig::BENCH_LIBAVCODEC)
    pkg_check_modules(BENCH_LIBAVCODEC REQUIRED IMPORTED_TARGET libavcodec libavutil)
  endif()
  lumacro3_bench(bench_capture lumacro_capture lumacro_platform_capture X11::X11 X11::Xext)
  lumacro3_bench(bench_stream lumacro_stream phone_client PkgConfig::BENCH_LIBAVCODEC X11::X11)
endif()
