#!/usr/bin/env bash
# The media player against ffplay on a private X server (Xvfb) and sound
# server (PulseAudio with a null sink), both started here:
#   1. A/V sync: a clip with a white flash and a 1 kHz beep in the same
#      frame every second is played while ffmpeg records the screen and the
#      sink's monitor with their wall-clock times (-copyts); the beep onset
#      minus the flash onset is measured for each second, for our player
#      and for ffplay.
#   2. CPU: a 1080p H.264 file (10 s) played to its end, our player's CPU
#      time over ffplay's.
#   3. Live view: bench_media live (latency from hand-over to screen).
# usage: bash bench/media_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
B=$(realpath "${1:-build}")
W=$(mktemp -d /tmp/lumacro3-media-bench-XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$W"; }
trap cleanup EXIT

exec 3<> "$W/displayfd" || true
Xvfb -displayfd 3 -screen 0 1920x1080x24 -noreset -nolisten tcp >/dev/null 2>&1 3>"$W/display" & pids+=($!)
for i in $(seq 100); do [ -s "$W/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -1 "$W/display")"
HOME=$W XDG_RUNTIME_DIR=$W pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  -L "module-native-protocol-unix socket=$W/native auth-anonymous=1" \
  -L "module-null-sink sink_name=ci_sink" >/dev/null 2>&1 & pids+=($!)
export PULSE_SERVER=unix:$W/native SDL_AUDIODRIVER=pulseaudio
for i in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
# A silent stream keeps the null sink running (it otherwise pauses new streams).
pacat --raw --format=s16le --rate=44100 --channels=2 < /dev/zero >/dev/null 2>&1 & pids+=($!)

ff() { ffmpeg -nostdin -v error -y "$@"; }
ff -f lavfi -i "color=c=black:s=640x360:r=25:d=6[b];color=c=white:s=640x360:r=25:d=6[w];[b][w]overlay=enable='lt(mod(t\,1)\,0.04)'" \
   -f lavfi -i "sine=f=1000:sample_rate=44100:d=6,volume=enable='gte(mod(t\,1)\,0.04)':volume=0" \
   -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 25 -c:a aac -b:a 128k -shortest "$W/sync.mp4"
ff -f lavfi -i "testsrc2=s=1920x1080:r=30:d=10" -f lavfi -i "sine=f=440:d=10" \
   -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -shortest "$W/big.mp4"
ff -f lavfi -i "testsrc2=s=1280x720:r=30:d=10" -c:v libx264 -preset ultrafast -tune zerolatency -bf 0 \
   -pix_fmt yuv420p -f h264 "$W/live.h264"

# Onsets of the flash (centre brightness) and the beep (10 ms RMS) in a
# recording; prints the beep-minus-flash offsets in ms.
analyse() {
  ffprobe -v error -f lavfi -i "movie=$1,crop=64:64:928:508,signalstats" \
    -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0 > "$W/video.csv"
  ffprobe -v error -f lavfi -i "amovie=$1,asetnsamples=n=441,astats=metadata=1:reset=1" \
    -show_entries frame=pts_time:frame_tags=lavfi.astats.Overall.RMS_level -of csv=p=0 > "$W/audio.csv"
  python3 - "$W/video.csv" "$W/audio.csv" <<'PY'
import sys
def rows(path):
    out = []
    for line in open(path):
        parts = line.strip().split(',')
        try: out.append((float(parts[0]), float(parts[1])))
        except (ValueError, IndexError): pass
    return sorted(out)
def onsets(rows, threshold):
    found, above, last = [], False, -10.0
    for t, v in rows:
        if v > threshold and not above and t - last > 0.5:
            found.append(t); last = t
        above = v > threshold
    return found
flashes = onsets(rows(sys.argv[1]), 128)
beeps = onsets(rows(sys.argv[2]), -35)
offsets = []
for f in flashes:
    near = [b for b in beeps if abs(b - f) < 0.45]
    if near: offsets.append((min(near, key=lambda b: abs(b - f)) - f) * 1000)
if not offsets:
    print("no flash/beep pairs found (%d flashes, %d beeps)" % (len(flashes), len(beeps))); sys.exit(0)
mean = sum(offsets) / len(offsets)
print("pairs %d, beep - flash: mean %+.1f ms, worst %+.1f ms, each %s" % (
    len(offsets), mean, max(offsets, key=abs), " ".join("%+.0f" % o for o in offsets)))
PY
}

record_while() {  # record_while NAME COMMAND...
  local name=$1; shift
  ffmpeg -nostdin -v error -y -copyts -t 9 -f x11grab -framerate 50 -video_size 1920x1080 -i "$DISPLAY" \
    -t 9 -f pulse -i ci_sink.monitor -c:v libx264 -preset ultrafast -qp 0 -pix_fmt yuv420p -c:a pcm_s16le \
    "$W/$name.mkv" &
  local rec=$!
  sleep 1
  "$@" >/dev/null 2>&1 || true
  wait $rec || true
  echo "$name: $(analyse "$W/$name.mkv")"
}

echo "== A/V sync (flash and beep in the same frame, 5 times)"
record_while lumacro3 "$B/bench/bench_media" play "$W/sync.mp4"
record_while ffplay ffplay -autoexit -fs -loglevel quiet "$W/sync.mp4"

[ -n "${SYNC_ONLY:-}" ] && exit 0
echo "== CPU of playing a 1080p H.264 file (10 s, 30 fps, with sound) to its end"
cpu() { python3 -c 'import resource,subprocess,sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
r = resource.getrusage(resource.RUSAGE_CHILDREN); print("%.2f" % (r.ru_utime + r.ru_stime))' "$@"; }
ours=$(cpu "$B/bench/bench_media" play "$W/big.mp4")
theirs=$(cpu ffplay -autoexit -fs -loglevel quiet "$W/big.mp4")
python3 -c "import sys; o,t=float(sys.argv[1]),float(sys.argv[2]); print('lumacro3 %.2f s, ffplay %.2f s, ratio %.2f' % (o, t, o/t))" "$ours" "$theirs"

echo "== Live view latency (1280x720 H.264, 30 fps)"
"$B/bench/bench_media" live "$W/live.h264"
