# Annotation ink latency and CPU on a private Xvfb (xcompmgr for --xcompmgr).
lumacro3_bench(bench_overlay lumacro_tools X11::X11)
