# Shared by the side-by-side capture scripts (source it, do not run it): a scratch folder and a
# private server (PulseAudio, or PipeWire with TOVANEL_PRIVATE_SERVER=pipewire) with one null sink
# "builtin", both removed at exit with every process listed in `pids`; a tone played into that
# sink; and the summary of several rounds' ratios. Needs `build` (the build folder) set first.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
private_server="$here/../Tests/Support/pulse/private-${TOVANEL_PRIVATE_SERVER:-pulse}"
# shellcheck disable=SC2034 # for the scripts that source this one
server_name=$(basename "$private_server")

work=$(mktemp -d "${TMPDIR:-/tmp}/tovanel-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  "$private_server" stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"$private_server" start "$work/server" --sink "builtin=Built-in Output" --default-sink builtin >/dev/null
eval "$("$private_server" env "$work/server")"

# Plays a 1 kHz tone at -12 dBFS into the sink for `seconds`, in the background, and waits a
# second so that the sink runs before the recorders join.
play_tone() { # seconds
  "$build/bin/tovanel_signal" tone "$1" --frequency 1000 --level -12 |
    pacat --raw --format=float32le --rate=48000 --channels=2 -d builtin &
  pids+=($!)
  sleep 1
}

summary() { # label rounds ratios...
  local label=$1 count=$2
  shift 2
  printf '%s\n' "$@" | awk -v l="$label" -v n="$count" \
    '{ s += $1; if (NR == 1 || $1 < lo) lo = $1; if (NR == 1 || $1 > hi) hi = $1 }
     END { printf "mean ratio %s over %d rounds: %.2f (lowest %.2f, highest %.2f)\n", l, n, s/n, lo, hi }'
}
