#!/usr/bin/env bash
# The integration cases: the built program, the stand-in sender, /usr/bin/pkill and a server of the
# case's own. They wait only for events (a line on a standard error, an end); a failing one keeps
# its captures as WAV files. Usage: cases.sh BIN_DIR EVIDENCE_DIR pulse|pipewire.CASE[.ARGUMENT]
set -euo pipefail
shopt -s nullglob
IFS=. read -r kind case argument <<<"$3"
bin=$1 evidence=$2 name=$3 private_server=$(dirname "$0")/../Support/pulse/private-$kind
readonly bound=20 seconds=20 clip=$((21 * 48000 * 8)) # an event's bound; s bit for bit; bytes read
# Short (the server's socket is in it), on a file system of its own where there is one: as root,
# only a rename across file systems shows a temporary written away from the status file.
w=$(mktemp -d /dev/shm/tovanel-case.XXXXXX 2>/dev/null || mktemp -d /tmp/tovanel-case.XXXXXX)
w=$(realpath "$w") && mkdir "$w/tmp" "$w/records"
unset "${!TOVANEL_@}"
export LC_ALL=C TMPDIR=$w/tmp TOVANEL_TEST_SENDER_DIR=$w/records
status_file=$w/tmp/tovanel-sender-48100-status.txt
keep=() # raw captures kept as WAV files when the case fails
declare -A pids errs

end_case() {
  local status=$? file
  set +e # all of it, whatever fails
  # shellcheck disable=SC2046 # one process id a word
  { kill -KILL $(jobs -p); wait; } 2>/dev/null
  "$private_server" stop "$w/server"
  if [ "$status" -ne 0 ]; then
    for file in "$w"/*.err; do sed "s|^|$(basename "$file" .err): |" "$file" >&2; done
    for file in "${keep[@]}"; do
      mkdir -p "$evidence" && "$bin/tovanel_signal" wav "$file" "$evidence/$name-${file##*/}.wav"
    done
  fi
  rm -rf "$w"
  [ "$status" != 3 ] || [ "${CASE_AGAIN:-}" = 11 ] || # the server lost audio: again, twice at most
    CASE_AGAIN+=1 exec bash "$0" "$bin" "$evidence" "$name"
}
trap end_case EXIT

fail() { echo "FAIL: $1" >&2; exit "${2:-1}"; } # MESSAGE [STATUS]
check() { "$@" || fail "$*"; }

server() { # a private server: "Built-in Output" (builtin, the default sink) and "BlackHole 2ch"
  "$private_server" start "$w/server" --sink "builtin=Built-in Output" \
    --sink "blackhole=BlackHole 2ch" --default-sink builtin
  eval "$("$private_server" env "$w/server")" && server_pid=$("$private_server" pid "$w/server")
}

default_is() { # NAME: once the server names it the default sink (on PipeWire WirePlumber sets it)
  for _ in {1..200}; do [ "$(pactl get-default-sink)" != "$1" ] || return 0; sleep 0.05; done
  fail "the default sink is $(pactl get-default-sink), not $1"
}

install_app() { # DIR [sender]: a copy of the program there, and of the stand-in sender beside it
  mkdir -p "$1" && cp "$bin/tovanel-macos-capture" "$1/"
  [ -z "${2:-}" ] || cp "$bin/tovanel-test-sender" "$1/tovanel-sender"
}

launch() { # NAME OUT COMMAND...: standard output into OUT, standard error into a pipe read below
  : >"$w/$1.err" && mkfifo "$w/$1.pipe"
  "${@:3}" >"$2" 2>"$w/$1.pipe" & pids[$1]=$!
  exec {fd}<"$w/$1.pipe" && errs[$1]=$fd && rm "$w/$1.pipe"
}

await() { # NAME REGEX: reads NAME's standard error into $w/NAME.err until a whole line matches
  local line
  until grep -qxE -- "$2" "$w/$1.err"; do
    IFS= read -r -t "$bound" -u "${errs[$1]}" line || fail "$1 said no line like '$2'"
    printf '%s\n' "$line" >>"$w/$1.err"
  done
}

finish() { # NAME [STATUS]: reads its standard error to the end (it and what it started have ended)
  timeout $((bound + seconds)) cat <&"${errs[$1]}" >>"$w/$1.err" || fail "$1 did not end"
  status=0 && wait "${pids[$1]}" || status=$?
  [ -z "${2:-}" ] || [ "$status" = "$2" ] || fail "$1 ended with status $status, not $2"
}

run() { launch "$1" "$2" "${@:4}" && finish "$1" "$3"; } # NAME OUT STATUS COMMAND...

play() { # SINK START: the numbered signal into SINK from frame index START, once it plays
  launch player /dev/null pacat -v --raw --format=float32le --rate=48000 --channels=2 -d "$1" \
    <("$bin/tovanel_signal" numbered $((60 * 48000)) --start "$2")
  await player ".*Stream started.*" # after its latency, shown on the same line until it starts
  cat <&"${errs[player]}" >/dev/null & # the rest it says (latencies) must be read, not kept
  launch witness "$w/witness.raw" parec --raw --format=float32le --rate=48000 --channels=2 \
    -d "$1.monitor" # beside ours: a loaded PipeWire server now and then plays a cycle as silence
}

# The records of the one sender the program started: sets base.
sender() { local a=("$w"/records/sender-*.args) && check [ "${#a[@]}" = 1 ] && base=${a[0]%.args}; }

numbered() { said=$("$bin/tovanel_signal" check-numbered "$1" --min-frames $((seconds * 48000)) \
  --witness "$w/witness.raw") || fail "$said" $?; } # FILE: bit for bit (3: the server lost a frame)

# The six arguments the program starts its sender with (after the sender's own path).
arguments() { printf '%s\n' "$1/tovanel-sender" --port "$2" --input stdin --status-file "$3"; }

# Capture mode moves the default output from "BlackHole 2ch" to "Built-in Output", records its
# monitor bit for bit and ends quietly at its next write once the reader left.
case_capture_loopback() {
  server
  pactl set-default-sink blackhole
  play builtin 0
  keep+=("$w/out.raw")
  run program >(head -c $clip >"$w/out.raw") 141 "$bin/tovanel-macos-capture"
  check [ "$(cat "$w/program.err")" = "tovanel-macos-capture started" ]
  numbered "$w/out.raw"
  check [ "$(pactl get-default-sink)" = builtin ]
}

# App mode with the input-device or the screen source ("Device" is not "device"): the sender's six
# arguments, a stale status file emptied before it starts, its greetings on our standard error, the
# audio bit for bit on its input (in whole 38400-byte buffers from the input device), "ok:" status
# lines, and a quiet end at the next write once it left.
case_app_loopback() { # device | screen
  server
  install_app "$w/app" sender
  local input=Device sink=builtin banner=tovanel-macos-capture
  local pattern='^ok: screenFrames=[0-9]+ audioBuffers=[1-9][0-9]* audioBytes=[1-9]'
  if [ "$1" = device ]; then
    input=device sink=blackhole banner=tovanel-input-device-capture
    pattern='^ok: inputBuffers=([1-9][0-9]*) audioBytes=([0-9]+) format=Black'
  fi
  play "$sink" 1000000
  printf 'tovanel-sender exited: 9' >"$status_file"
  run program "$w/out" 141 env TOVANEL_INPUT=$input TOVANEL_TEST_SENDER_EXIT_AFTER=$clip \
    "$w/app/tovanel-macos-capture" --app
  sender
  keep+=("$base.stdin")
  check [ "$(cat "$base.args")" = "$(arguments "$w/app" 48100 "$status_file")" ]
  [[ $(cat "$base.status") =~ ^(ok: .*)?$ ]] || fail "the sender saw '$(cat "$base.status")'"
  check [ "$(cat "$base.end")" = "exit 0" ] && check [ ! -s "$w/out" ]
  check grep -qx "$banner started" "$w/program.err"
  check [ "$(grep -c "^tovanel-test-sender ${base##*-}: hello on standard" "$w/program.err")" = 2 ]
  numbered "$base.stdin"
  [[ $(cat "$status_file") =~ $pattern ]] || fail "last status: $(cat "$status_file")"
  if [ "$1" = device ]; then
    check [ "${BASH_REMATCH[2]}" = $((BASH_REMATCH[1] * 38400)) ]
    check [ "$(pactl get-default-source)" = blackhole.monitor ]
  fi
}

# The server killed, or every sink unloaded, under app mode: the reason on standard error and as the
# status file's last word, exit status 1, and the sender's input ended.
case_server_fault() { # kill | gone
  server
  install_app "$w/app" sender
  launch program "$w/out" "$w/app/tovanel-macos-capture" --app
  await program "tovanel-macos-capture started"
  if [ "$1" = kill ]; then kill -KILL "$server_pid"; else pactl unload-module module-null-sink; fi
  finish program 1
  failure=$(grep '^tovanel-macos-capture: ' "$w/program.err")
  local why="" && [ "$1" = kill ] || why="no output to record: "
  [[ $failure == "tovanel-macos-capture: capture stopped: $why"?* ]] || fail "said: $failure"
  check [ "$(cat "$status_file")" = "macOS capture failed: ${failure#tovanel-macos-capture: }" ]
  sender
  check [ "$(cat "$base.end")" = eof ]
}

# Capture mode follows the computer's output: the default switched to another sink, a new sink
# loaded and made the default, or the recorded sink unloaded and another named the default. Of the
# numbered signal played into the new default it records at least 2.5 s of 3, quietly, and runs on.
case_follow() { # switch | plug | unload
  server && keep+=("$w/out.raw")
  launch capture "$w/out.raw" "$bin/tovanel-macos-capture"
  await capture "tovanel-macos-capture started"
  case $1 in
    switch) pactl set-default-sink blackhole && default_is blackhole ;;
    plug) pactl load-module module-null-sink sink_name=usb format=float32le rate=48000 channels=2 &&
      pactl set-default-sink usb && default_is usb ;;
    unload) pactl unload-module "$(pactl list short modules | awk '/sink_name=builtin/ { print $1 }')"
      default_is blackhole ;;
  esac
  run player /dev/null 0 pacat --raw --format=float32le --rate=48000 --channels=2 \
    -d "$(pactl get-default-sink)" <("$bin/tovanel_signal" numbered $((3 * 48000)) --start 5000000)
  kill -TERM "${pids[capture]}" && finish capture 143 # it ran on until then
  check [ "$(cat "$w/capture.err")" = "tovanel-macos-capture started" ]
  said=$("$bin/tovanel_signal" check-numbered "$w/out.raw" || true) # the silence after it fails
  [[ $said =~ numbered=([0-9]+)\ first_index=5[0-9]{6} && ${BASH_REMATCH[1]} -ge 120000 ]] ||
    fail "recorded: $said"
}

# The server stopped for a few seconds: capture mode neither ends nor hangs, and goes on after it.
case_server_stalled() {
  server
  launch capture >(head -c $((2 * 48000 * 8)) >/dev/null) "$bin/tovanel-macos-capture"
  await capture "tovanel-macos-capture started"
  kill -STOP "$server_pid"
  sleep 3 # the stall itself
  check [ "$(cut -d' ' -f3 "/proc/${pids[capture]}/stat")" != Z ] # capture still runs
  kill -CONT "$server_pid"
  finish capture 141 # its reader had all it wanted
  check [ "$(cat "$w/capture.err")" = "tovanel-macos-capture started" ]
}

# No server: capture mode fails at once, saying why. App mode fails once its sender runs, after what
# comes first: a port with "/" and non-UTF-8 bytes reaches the sender verbatim and names a status
# file in TMPDIR, where a planted symlink is replaced; through a link named "Tovanel Sender", the
# sender is looked for beside the real executable (and its absence said); the stale-sender pattern
# (real pkill) ends ours, not one on a longer port nor one on a path differing at "." and "[]".
case_no_server() {
  export PULSE_SERVER=unix:$w/no-server
  run program "$w/out" 1 "$bin/tovanel-macos-capture"
  check [ ! -s "$w/out" ] && check [ "$(wc -l <"$w/program.err")" = 1 ]
  said=$(cat "$w/program.err")
  [[ $said == "tovanel-macos-capture: shareable content unavailable: "*refused ]] || fail "$said"

  local app="$w/a.b[1]" port=$'x/../../\xff\xfe' stale role dir
  local file=$w/tmp/tovanel-sender-x_.._.._$'\xff\xfe'-status.txt
  install_app "$app" sender && install_app "$w/aXb1" sender && install_app "$w/lonely"
  mkdir "$w/links" "$w/decoy" "$w/tmp/tovanel-sender-x"
  ln -s "$app/tovanel-macos-capture" "$w/links/Tovanel Sender"
  ln -s "$w/lonely/tovanel-macos-capture" "$w/decoy/Tovanel Sender"
  cp "$bin/tovanel-test-sender" "$w/decoy/tovanel-sender"
  echo precious >"$w/victim" && ln -s "$w/victim" "$file"
  run program "$w/out" 1 env TOVANEL_PORT="$port" "$w/links/Tovanel Sender"
  sender
  check [ "$(cat "$base.args")" = "$(arguments "$app" "$port" "$file")" ]
  check [ -f "$file" ] && check [ ! -L "$file" ] && check [ "$(cat "$w/victim")" = precious ]
  [[ $(cat "$file") == "macOS capture failed: "?* ]] || fail "the status file holds: $(cat "$file")"
  run program "$w/out" 1 "$w/decoy/Tovanel Sender"
  check [ -f "$status_file" ] && check [ ! -s "$status_file" ]
  check [ "$(cat "$w/program.err")" = \
    "PC Tovanel Sender failed to start: $w/lonely/tovanel-sender: No such file or directory" ]

  for stale in "same $app 48100" "longer $app 481001" "lookalike $w/aXb1 48100"; do
    read -r role dir port <<<"$stale"
    launch "$role" /dev/null env TOVANEL_TEST_SENDER_STAY=1 "$dir/tovanel-sender" --port "$port" \
      --input stdin --status-file /dev/null
    await "$role" "tovanel-test-sender [0-9]+: hello on standard error"
  done
  run program "$w/out" 1 env TOVANEL_TEST_SENDER_EXIT_AFTER=0 "$app/tovanel-macos-capture" --app
  finish same 143 # SIGTERM
  check [ "$(cat "$w/records/sender-${pids[same]}.end")" = "signal 15" ]
  for stale in longer lookalike; do
    kill -KILL "${pids[$stale]}" && finish "$stale"
    check [ "$(cat "$w/records/sender-${pids[$stale]}.end")" = eof ]
  done
}

"case_$case" ${argument:+"$argument"}
