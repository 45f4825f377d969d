# CPU of the PC camera window showing a 1080p 30 fps camera (a fake device fed
# from a video file) against ffplay showing the same file in the same run.
lumacro3_bench(bench_camera lumacro_camera lumacro_camera_window lumacro_platform_fake_camera
  Qt6::Widgets)
