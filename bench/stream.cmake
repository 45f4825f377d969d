# Screen capture and the screen stream on a private Xvfb, each against the
# ffmpeg CLI (x11grab, libx264) measured in the same run.
lumacro3_bench(bench_capture lumacro_capture lumacro_platform_x11_grabber X11::X11 X11::Xext)
lumacro3_bench(bench_stream lumacro_stream lumacro_platform_x11_grabber phone_client
  PkgConfig::LIBAVCODEC PkgConfig::LIBAVUTIL X11::X11)
