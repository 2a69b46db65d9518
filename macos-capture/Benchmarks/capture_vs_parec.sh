#!/usr/bin/env bash
# Side-by-side capture cost: our program in capture mode and parec (float32le, 48000 Hz, stereo),
# once at our record stream's latency and once at parec's default, all recording the same audio
# from a private sound server (TOVANEL_PRIVATE_SERVER, see capture_common.sh) at the same time. Reports
# each process's CPU time (user + system, summed over all its threads from
# /proc/PID/task/*/schedstat, in nanoseconds), its context switches (wake-ups) and the ratios.
#
# On a small machine one round's ratio moves by 10-15 % with where the scheduler happens to put
# the recorders, so several rounds (fresh processes, start order rotated) give the figure to
# compare: their mean, with the lowest and highest. To compare two builds, name the other
# build's executable as OTHER: it records beside the rest in every round.
#
# Usage: [LATENCY_MS=10] capture_vs_parec.sh BUILD_DIR [SECONDS] [ROUNDS] [OTHER]     (60 s, 1)
set -euo pipefail
build=$(cd "${1:?usage: capture_vs_parec.sh BUILD_DIR [SECONDS] [ROUNDS] [OTHER]}" && pwd)
seconds=${2:-60}
rounds=${3:-1}
other=${4:-}
# Our record stream's fragment: one buffer every 10 ms (platform/pulse/screen_capture.h). For a
# build with other fragments, say so in LATENCY_MS: parec then records at that latency.
latency_ms=${LATENCY_MS:-10}

source "$(dirname "$0")/capture_common.sh"

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

report() { # name cpu_ns switches
  awk -v n="$1" -v c="$2" -v w="$3" -v s="$seconds" \
    'BEGIN { printf "  %-28s cpu %8.1f ms  (%6.1f ms per minute of audio)  wake-ups %6d  (%5.1f/s)\n", n, c/1e6, c/1e6*60/s, w, w/s }'
}

play_tone $((rounds * (seconds + 4) + 3))

names=("tovanel-macos-capture" "parec --latency-msec=$latency_ms" "parec (default latency)")
recorders=3
if [[ -n $other ]]; then
  names+=("other: $(basename "$(dirname "$(dirname "$other")")")/$(basename "$other")")
  recorders=4
fi
start() { # which: 0 ours, 1 parec at our latency, 2 parec at its default, 3 the other build
  case $1 in
    3) "$other" >/dev/null 2>>"$work/other.log" & ;;
    0) "$build/bin/tovanel-macos-capture" >/dev/null 2>>"$work/ours.log" & ;;
    1) parec --raw --format=float32le --rate=48000 --channels=2 -d builtin.monitor \
         --latency-msec="$latency_ms" >/dev/null & ;;
    2) parec --raw --format=float32le --rate=48000 --channels=2 -d builtin.monitor >/dev/null & ;;
  esac
  recorder[$1]=$!
  pids+=($!)
}

echo "Capturing ${seconds}s of a 1 kHz tone from a private server ($server_name), all at the same time:"
ratios_equal=()
ratios_default=()
ratios_other=()
for ((round = 0; round < rounds; round++)); do
  recorder=()
  for ((k = 0; k < recorders; k++)); do start $(((k + round) % recorders)); done
  sleep 1 # past everyone's start-up
  for ((i = 0; i < recorders; i++)); do
    read -r cpu0[i] switches0[i] < <(measure "${recorder[i]}")
  done
  sleep "$seconds"
  for ((i = 0; i < recorders; i++)); do
    read -r cpu1[i] switches1[i] < <(measure "${recorder[i]}")
  done
  if ((round == 0)); then
    granted=$(pactl list source-outputs |
      awk '/application.name = "tovanel-macos-capture"/ {found=1} END {print found+0}')
  fi
  kill "${recorder[@]}" 2>/dev/null || true
  wait "${recorder[@]}" 2>/dev/null || true

  ((rounds == 1)) || echo "round $((round + 1)) of $rounds:"
  for ((i = 0; i < recorders; i++)); do
    cpu[i]=$((cpu1[i] - cpu0[i]))
    report "${names[i]}" "${cpu[i]}" $((switches1[i] - switches0[i]))
  done
  ratios_equal+=("$(awk -v a="${cpu[0]}" -v b="${cpu[1]}" 'BEGIN { printf "%.3f", a/b }')")
  ratios_default+=("$(awk -v a="${cpu[0]}" -v b="${cpu[2]}" 'BEGIN { printf "%.3f", a/b }')")
  echo "  ratio ours / parec at equal latency: ${ratios_equal[-1]}; at parec's default: ${ratios_default[-1]}"
  if [[ -n $other ]]; then
    ratios_other+=("$(awk -v a="${cpu[3]}" -v b="${cpu[1]}" 'BEGIN { printf "%.3f", a/b }')")
    echo "  ratio other / parec at equal latency: ${ratios_other[-1]}"
  fi
done

if ((rounds > 1)); then
  summary "ours / parec at equal latency" "$rounds" "${ratios_equal[@]}"
  summary "ours / parec at parec's default" "$rounds" "${ratios_default[@]}"
  [[ -z $other ]] || summary "other / parec at equal latency" "$rounds" "${ratios_other[@]}"
fi
echo "our record stream: ${latency_ms} ms fragments (seen by the server: $granted stream)"
