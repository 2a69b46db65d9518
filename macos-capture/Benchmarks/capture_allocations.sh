#!/usr/bin/env bash
# Heap allocations per second of capture: our program in capture mode with the allocation
# counter preloaded (malloc_counter.c, built as BUILD/bin/libmalloc_counter.so), recording a
# tone from a private sound server (TOVANEL_PRIVATE_SERVER, see capture_common.sh). After a warm-up the
# counts are taken (SIGUSR2 makes the counter append "allocations frees" to a file), again after
# the window, and the difference is divided by the seconds of audio written in between (the
# output's growth over 384000 bytes per second). Other executables named after SECONDS record beside ours and are counted the same way,
# for example an older build.
#
# Usage: capture_allocations.sh BUILD_DIR [SECONDS] [OTHER...]     (default 20 s)
set -euo pipefail
build=$(cd "${1:?usage: capture_allocations.sh BUILD_DIR [SECONDS] [OTHER...]}" && pwd)
seconds=${2:-20}
shift $(($# >= 2 ? 2 : 1))
warm_up=3
counter="$build/bin/libmalloc_counter.so"
bytes_per_second=384000
[[ -f $counter ]] || { echo "no $counter: build the target malloc_counter first" >&2; exit 1; }

source "$(dirname "$0")/capture_common.sh"
play_tone $((seconds + warm_up + 10))

programs=("$build/bin/tovanel-macos-capture" "$@")
for ((i = 0; i < ${#programs[@]}; i++)); do
  TOVANEL_MALLOC_COUNT_FILE="$work/counts.$i" LD_PRELOAD="$counter" "${programs[i]}" \
    >"$work/pcm.$i" 2>"$work/log.$i" &
  recorder[i]=$!
  pids+=($!)
done
sleep "$warm_up"

size() { stat -c %s "$1"; }
take() { # index: asks for the counts and waits for their line
  local lines
  lines=$(cat "$work/counts.$1" 2>/dev/null | wc -l)
  kill -USR2 "${recorder[$1]}"
  until (($(cat "$work/counts.$1" 2>/dev/null | wc -l) > lines)); do sleep 0.01; done
}
for ((i = 0; i < ${#programs[@]}; i++)); do
  take "$i"
  bytes0[i]=$(size "$work/pcm.$i")
done
sleep "$seconds"
for ((i = 0; i < ${#programs[@]}; i++)); do
  take "$i"
  bytes1[i]=$(size "$work/pcm.$i")
done

echo "Heap allocations over ${seconds}s after a ${warm_up}s warm-up, all recording at once" \
  "from a private server ($server_name):"
for ((i = 0; i < ${#programs[@]}; i++)); do
  read -r a0 f0 < <(sed -n 1p "$work/counts.$i")
  read -r a1 f1 < <(sed -n 2p "$work/counts.$i")
  awk -v n="${programs[i]}" -v a=$((a1 - a0)) -v f=$((f1 - f0)) \
    -v s="$(awk -v b=$((bytes1[i] - bytes0[i])) -v r=$bytes_per_second 'BEGIN { print b / r }')" \
    'BEGIN { printf "  %s\n    %d allocations, %d frees in %.2f s of audio: %.1f allocations per second\n", n, a, f, s, a / s }'
done
