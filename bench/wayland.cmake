# Screen capture in a GNOME Wayland session against X11 capture of an Xvfb in
# the same run (inside scripts/with-gnome-wayland).
lumacro3_bench(bench_wayland lumacro_platform_wayland lumacro_platform_x11_grabber X11::X11)
