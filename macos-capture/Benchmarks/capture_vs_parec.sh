#!/usr/bin/env bash
# Side-by-side capture cost: our program in capture mode and parec (float32le, 48000 Hz, stereo),
# once at our record stream's latency and once at parec's default, all recording the same audio
# from a private PulseAudio server at the same time. Reports each process's CPU time (user +
# system, summed over all its threads from /proc/PID/task/*/schedstat, in nanoseconds), its
# context switches (wake-ups) and the ratios.
#
# Usage: capture_vs_parec.sh BUILD_DIR [SECONDS]     (default 60)
set -euo pipefail
build=$(cd "${1:?usage: capture_vs_parec.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
private_pulse="$here/../Tests/Support/pulse/private-pulse"
latency_ms=10 # our record stream's fragment: one buffer every 10 ms (platform/pulse/screen_capture.h)

work=$(mktemp -d "${TMPDIR:-/tmp}/tovanel-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$private_pulse" stop "$work/pulse" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"$private_pulse" start "$work/pulse" --sink "builtin=Built-in Output" --default-sink builtin >/dev/null
eval "$("$private_pulse" env "$work/pulse")"

# CPU nanoseconds and context switches of every thread a process has now.
measure() {
  local pid=$1 cpu=0 switches=0 task
  for task in /proc/"$pid"/task/*; do
    read -r run _ _ <"$task/schedstat" || continue
    cpu=$((cpu + run))
    switches=$((switches + $(awk '/ctxt_switches/ {s += $2} END {print s}' "$task/status")))
  done
  echo "$cpu $switches"
}

"$build/bin/tovanel_signal" tone --seconds $((seconds + 3)) --frequency 1000 --level -12 |
  pacat --raw --format=float32le --rate=48000 --channels=2 -d builtin &
pids+=($!)
sleep 1 # the sink is running before the recorders join

"$build/bin/tovanel-macos-capture" >/dev/null 2>"$work/ours.log" &
ours=$!; pids+=($ours)
parec --raw --format=float32le --rate=48000 --channels=2 -d builtin.monitor \
  --latency-msec="$latency_ms" >/dev/null &
parec_equal=$!; pids+=($parec_equal)
parec --raw --format=float32le --rate=48000 --channels=2 -d builtin.monitor >/dev/null &
parec_default=$!; pids+=($parec_default)

sleep 1 # past everyone's start-up
read -r ours0 oursw0 < <(measure "$ours")
read -r eq0 eqw0 < <(measure "$parec_equal")
read -r def0 defw0 < <(measure "$parec_default")
sleep "$seconds"
read -r ours1 oursw1 < <(measure "$ours")
read -r eq1 eqw1 < <(measure "$parec_equal")
read -r def1 defw1 < <(measure "$parec_default")

granted=$(pactl list source-outputs | awk '/application.name = "tovanel-macos-capture"/ {found=1} END {print found+0}')
report() { # name cpu_ns switches
  awk -v n="$1" -v c="$2" -v w="$3" -v s="$seconds" \
    'BEGIN { printf "%-28s cpu %8.1f ms  (%6.1f ms per minute of audio)  wake-ups %6d  (%5.1f/s)\n", n, c/1e6, c/1e6*60/s, w, w/s }'
}
echo "Capturing ${seconds}s of a 1 kHz tone from a private PulseAudio server, all at the same time:"
report "tovanel-macos-capture" $((ours1 - ours0)) $((oursw1 - oursw0))
report "parec --latency-msec=$latency_ms" $((eq1 - eq0)) $((eqw1 - eqw0))
report "parec (default latency)" $((def1 - def0)) $((defw1 - defw0))
awk -v a=$((ours1 - ours0)) -v b=$((eq1 - eq0)) -v c=$((def1 - def0)) \
  'BEGIN { printf "ratio ours / parec at equal latency: %.2f; ours / parec at default latency: %.2f\n", a/b, a/c }'
echo "our record stream: ${latency_ms} ms fragments (seen by the server: $granted stream)"
