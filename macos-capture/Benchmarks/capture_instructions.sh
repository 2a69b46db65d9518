#!/usr/bin/env bash
# User-space instructions per second of audio: our program in capture mode beside
# parec --latency-msec=10 (float32le, 48000 Hz, stereo), both under valgrind's callgrind and
# recording the same audio from a private PulseAudio server at the same time. After a warm-up
# every recorder's counters are zeroed (callgrind_control --zero), and after the window they are
# dumped (--dump); the instructions of the window are divided by the seconds of audio each
# recorder wrote in it (its output's growth over 384000 bytes per second).
#
# Instruction counts do not move with the machine's load the way CPU time does (capture_vs_parec.sh
# moves by tens of per cent between rounds on a shared machine), so this is the figure to compare
# builds by during development. To compare two builds, name the other build's executable as
# OTHER: it records beside the rest. With TOP=N the N functions that cost most (inclusive of what
# they call) are listed for our program.
#
# Usage: capture_instructions.sh BUILD_DIR [SECONDS] [OTHER]     (default 20 s)
set -euo pipefail
build=$(cd "${1:?usage: capture_instructions.sh BUILD_DIR [SECONDS] [OTHER]}" && pwd)
seconds=${2:-20}
other=${3:-}
top=${TOP:-0}
keep=${KEEP:-}
warm_up=6 # valgrind's start-up and the streams' first second are not part of the window
here=$(cd "$(dirname "$0")" && pwd)
private_pulse="$here/../Tests/Support/pulse/private-pulse"
latency_ms=10 # our record stream's fragment (platform/pulse/screen_capture.h)
bytes_per_second=384000

work=$(mktemp -d "${TMPDIR:-/tmp}/tovanel-instructions.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  "$private_pulse" stop "$work/pulse" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"$private_pulse" start "$work/pulse" --sink "builtin=Built-in Output" --default-sink builtin >/dev/null
eval "$("$private_pulse" env "$work/pulse")"

"$build/bin/tovanel_signal" tone --seconds $((seconds + warm_up + 20)) --frequency 1000 \
  --level -12 | pacat --raw --format=float32le --rate=48000 --channels=2 -d builtin &
pids+=($!)
sleep 1 # the sink is running before the recorders join

grind=(valgrind --tool=callgrind --vgdb-prefix="$work/vgdb" --dump-instr=no)
names=("tovanel-macos-capture" "parec --latency-msec=$latency_ms")
[[ -z $other ]] || names+=("other: $(basename "$(dirname "$(dirname "$other")")")/$(basename "$other")")
recorders=${#names[@]}
for ((i = 0; i < recorders; i++)); do
  case $i in # exec: the background job is valgrind itself, whose id callgrind_control takes
    0) exec "${grind[@]}" --callgrind-out-file="$work/out.$i" "$build/bin/tovanel-macos-capture" ;;
    1) exec "${grind[@]}" --callgrind-out-file="$work/out.$i" parec --raw --format=float32le \
         --rate=48000 --channels=2 -d builtin.monitor --latency-msec="$latency_ms" ;;
    2) exec "${grind[@]}" --callgrind-out-file="$work/out.$i" "$other" ;;
  esac >"$work/pcm.$i" 2>"$work/log.$i" &
  recorder[i]=$!
  pids+=($!)
done
sleep "$warm_up"

size() { stat -c %s "$1"; }
for ((i = 0; i < recorders; i++)); do
  callgrind_control --vgdb-prefix="$work/vgdb" --zero "${recorder[i]}" >/dev/null 2>&1
  bytes0[i]=$(size "$work/pcm.$i")
done
sleep "$seconds"
for ((i = 0; i < recorders; i++)); do
  callgrind_control --vgdb-prefix="$work/vgdb" --dump "${recorder[i]}" >/dev/null 2>&1
  bytes1[i]=$(size "$work/pcm.$i")
done

# The dump of the window: the one file callgrind wrote on request.
instructions() { # index
  local dump tenths=50
  until dump=$(ls "$work/out.$1".* 2>/dev/null | head -n 1) && [[ -n $dump ]] ||
    ((--tenths == 0)); do sleep 0.1; done
  [[ -n $dump ]] || { echo "no dump for ${names[$1]} (see its log)" >&2; return 1; }
  awk '/^summary:|^totals:/ { print $2; exit }' "$dump"
}

echo "User-space instructions over ${seconds}s after a ${warm_up}s warm-up, all recording at once:"
for ((i = 0; i < recorders; i++)); do
  ir[i]=$(instructions "$i")
  audio[i]=$(awk -v b=$((bytes1[i] - bytes0[i])) -v r=$bytes_per_second 'BEGIN { printf "%.3f", b / r }')
  awk -v n="${names[i]}" -v ir="${ir[i]}" -v a="${audio[i]}" \
    'BEGIN { printf "  %-28s %12d instructions, %6.2f s of audio: %6.3f M per second of audio\n", n, ir, a, ir / a / 1e6 }'
done
ratio() { awk -v a="${ir[$1]}" -v sa="${audio[$1]}" -v b="${ir[$2]}" -v sb="${audio[$2]}" \
  'BEGIN { printf "%.3f", (a / sa) / (b / sb) }'; }
echo "ratio ours / parec at equal latency: $(ratio 0 1)"
[[ -z $other ]] || echo "ratio other / parec at equal latency: $(ratio 2 1)"

if [[ -n $keep ]]; then
  mkdir -p "$keep"
  for ((i = 0; i < recorders; i++)); do cp "$(ls "$work/out.$i".* | head -n 1)" "$keep/window.$i"; done
fi
if ((top > 0)); then
  echo "Our program's costliest functions (inclusive):"
  callgrind_annotate --inclusive=yes "$(ls "$work/out.0".* | head -n 1)" 2>/dev/null |
    awk '/^-+$/ { rule++; next } rule >= 3 && NF' | head -n "$top"
fi
