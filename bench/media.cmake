# The media player: playback CPU, live-view latency (bench/media_bench.sh
# adds the A/V sync and the comparison with ffplay).
lumacro3_bench(bench_media lumacro_player phone_media PkgConfig::LIBAVCODEC)
