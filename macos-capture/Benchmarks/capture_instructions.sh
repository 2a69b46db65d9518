#!/usr/bin/env bash
# User-space instructions per second of audio: our program in capture mode beside
# parec --latency-msec=10 (float32le, 48000 Hz, stereo), both under valgrind's callgrind and
# recording the same audio from a private sound server at the same time (TOVANEL_PRIVATE_SERVER, see
# capture_common.sh). After a warm-up every recorder's counters are zeroed (callgrind_control
# --zero), and after the window they are dumped (--dump); the instructions of the window are
# divided by the seconds of audio each recorder wrote in it (its output's growth over 384000
# bytes per second).
#
# Instruction counts do not move with the machine's load the way CPU time does (capture_vs_parec.sh
# moves by tens of per cent between rounds on a shared machine). They still move a little: how
# the server cuts its chunks under valgrind varies from round to round, and both recorders pay
# per chunk. So several rounds (fresh processes) give the figure to compare: their mean, with
# the lowest and highest. To compare two builds, name the other build's executable as OTHER: it
# records beside the rest in every round. With TOP=N the N functions that cost most (inclusive of
# what they call) in our program's last round are listed; with KEEP=DIR the last round's
# callgrind files are copied there (callgrind_annotate reads them).
#
# Usage: [LATENCY_MS=10] capture_instructions.sh BUILD_DIR [SECONDS] [ROUNDS] [OTHER]   (20 s, 1)
set -euo pipefail
build=$(cd "${1:?usage: capture_instructions.sh BUILD_DIR [SECONDS] [ROUNDS] [OTHER]}" && pwd)
seconds=${2:-20}
rounds=${3:-1}
other=${4:-}
top=${TOP:-0}
keep=${KEEP:-}
warm_up=6 # valgrind's start-up and the streams' first second are not part of the window
latency_ms=${LATENCY_MS:-10} # our record stream's fragment (platform/pulse/screen_capture.h)
bytes_per_second=384000

source "$(dirname "$0")/capture_common.sh"
play_tone $((rounds * (seconds + warm_up + 4) + 10))

grind=(valgrind --tool=callgrind --vgdb-prefix="$work/vgdb" --dump-instr=no)
names=("tovanel-macos-capture" "parec --latency-msec=$latency_ms")
[[ -z $other ]] || names+=("other: $(basename "$(dirname "$(dirname "$other")")")/$(basename "$other")")
recorders=${#names[@]}
size() { stat -c %s "$1"; }

# The dump of the window: the one file callgrind wrote on request.
dump_of() { # index
  local dump tenths=50
  until dump=$(ls "$work/out.$1".* 2>/dev/null | head -n 1) && [[ -n $dump ]] ||
    ((--tenths == 0)); do sleep 0.1; done
  [[ -n $dump ]] || { echo "no dump for ${names[$1]} (see its log)" >&2; return 1; }
  echo "$dump"
}

echo "Recording a 1 kHz tone from a private server ($server_name) under callgrind:"
ratios=()
ratios_other=()
for ((round = 0; round < rounds; round++)); do
  rm -f "$work"/out.*
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
  for ((i = 0; i < recorders; i++)); do
    callgrind_control --vgdb-prefix="$work/vgdb" --zero "${recorder[i]}" >/dev/null 2>&1
    bytes0[i]=$(size "$work/pcm.$i")
  done
  sleep "$seconds"
  for ((i = 0; i < recorders; i++)); do
    callgrind_control --vgdb-prefix="$work/vgdb" --dump "${recorder[i]}" >/dev/null 2>&1
    bytes1[i]=$(size "$work/pcm.$i")
  done

  if ((rounds == 1)); then
    echo "User-space instructions over ${seconds}s after a ${warm_up}s warm-up, all recording at once:"
  else
    echo "round $((round + 1)) of $rounds (${seconds}s after a ${warm_up}s warm-up):"
  fi
  for ((i = 0; i < recorders; i++)); do
    dump[i]=$(dump_of "$i")
    ir[i]=$(awk '/^summary:|^totals:/ { print $2; exit }' "${dump[i]}")
    audio[i]=$(awk -v b=$((bytes1[i] - bytes0[i])) -v r=$bytes_per_second 'BEGIN { printf "%.3f", b / r }')
    awk -v n="${names[i]}" -v ir="${ir[i]}" -v a="${audio[i]}" \
      'BEGIN { printf "  %-28s %12d instructions, %6.2f s of audio: %6.3f M per second of audio\n", n, ir, a, ir / a / 1e6 }'
  done
  ratio() { awk -v a="${ir[$1]}" -v sa="${audio[$1]}" -v b="${ir[$2]}" -v sb="${audio[$2]}" \
    'BEGIN { printf "%.3f", (a / sa) / (b / sb) }'; }
  ratios+=("$(ratio 0 1)")
  echo "  ratio ours / parec at equal latency: ${ratios[-1]}"
  if [[ -n $other ]]; then
    ratios_other+=("$(ratio 2 1)")
    echo "  ratio other / parec at equal latency: ${ratios_other[-1]}"
  fi
  if ((round == rounds - 1)); then
    if [[ -n $keep ]]; then
      mkdir -p "$keep"
      for ((i = 0; i < recorders; i++)); do cp "${dump[i]}" "$keep/window.$i"; done
    fi
    if ((top > 0)); then
      echo "Our program's costliest functions (inclusive):"
      callgrind_annotate --inclusive=yes "${dump[0]}" 2>/dev/null |
        awk '/^-+$/ { rule++; next } rule >= 3 && NF' | head -n "$top"
    fi
  fi
  kill "${recorder[@]}" 2>/dev/null || true
  wait "${recorder[@]}" 2>/dev/null || true
done

if ((rounds > 1)); then
  summary "ours / parec at equal latency" "$rounds" "${ratios[@]}"
  [[ -z $other ]] || summary "other / parec at equal latency" "$rounds" "${ratios_other[@]}"
fi
