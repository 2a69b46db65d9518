#!/usr/bin/env bash
# The integration cases: the built program with the stand-in sender, real processes, pipes, files
# and /usr/bin/pkill, each case against a private PulseAudio server of its own. A case waits only
# for events (a line on a standard error, its end) and removes all it started, so cases run in
# parallel. A failing case keeps its captures as WAV files in EVIDENCE_DIR.
# Usage: cases.sh BIN_DIR EVIDENCE_DIR CASE[.ARGUMENT]
set -euo pipefail
shopt -s nullglob
bin=$1 evidence=$2 name=$3
IFS=. read -r case argument <<<"$name"
readonly bound=20 second=$((48000 * 8)) # seconds an awaited event may take; bytes of 1 s of audio
private_pulse=$(dirname "$0")/../Support/pulse/private-pulse
export LC_ALL=C
# Short (the server's socket lives in it), and on a file system of its own where there is one: as
# root, only a rename across file systems shows a temporary written away from the status file.
w=$(realpath "$(mktemp -d /dev/shm/tovanel-case.XXXXXX 2>/dev/null || mktemp -d /tmp/tovanel-case.XXXXXX)")
mkdir "$w/tmp" "$w/records"
unset "${!TOVANEL_@}"
export TMPDIR=$w/tmp TOVANEL_TEST_SENDER_DIR=$w/records
status_file=$w/tmp/tovanel-sender-48100-status.txt
keep=() # raw captures kept as WAV files when the case fails
declare -A pids errs

end_case() {
  local status=$? capture
  # shellcheck disable=SC2046 # one process id a word
  kill -KILL $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  "$private_pulse" stop "$w/pulse" || true
  if [ "$status" -ne 0 ]; then
    for capture in "$w"/*.err; do sed "s|^|$(basename "$capture" .err): |" "$capture" >&2; done
    mkdir -p "$evidence"
    for capture in "${keep[@]}"; do
      "$bin/tovanel_signal" wav "$capture" "$evidence/$name-${capture##*/}.wav" &&
        echo "capture kept as $evidence/$name-${capture##*/}.wav" >&2
    done
  fi
  rm -rf "$w"
}
trap end_case EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
check() { "$@" || fail "$*"; }

server() { # a private server: "Built-in Output" (builtin, the default sink) and "BlackHole 2ch"
  "$private_pulse" start "$w/pulse" --sink "builtin=Built-in Output" \
    --sink "blackhole=BlackHole 2ch" --default-sink builtin
  eval "$("$private_pulse" env "$w/pulse")"
  server_pid=$("$private_pulse" pid "$w/pulse")
}

install_app() { # DIR [sender]: a copy of the program there, and of the stand-in sender beside it
  mkdir -p "$1" && cp "$bin/tovanel-macos-capture" "$1/"
  [ -z "${2:-}" ] || cp "$bin/tovanel-test-sender" "$1/tovanel-sender"
}

# NAME OUT COMMAND...: COMMAND in the background, its standard output into OUT, its standard error
# through a pipe that await and finish read into $w/NAME.err.
launch() {
  : >"$w/$1.err"
  mkfifo "$w/$1.pipe"
  "${@:3}" >"$2" 2>"$w/$1.pipe" &
  pids[$1]=$!
  exec {fd}<"$w/$1.pipe"
  errs[$1]=$fd
  rm "$w/$1.pipe"
}

await() { # NAME REGEX: reads NAME's standard error until a whole line matches
  local line
  until grep -qxE -- "$2" "$w/$1.err"; do
    IFS= read -r -t "$bound" -u "${errs[$1]}" line || fail "$1 said no line like '$2'"
    printf '%s\n' "$line" >>"$w/$1.err"
  done
}

finish() { # NAME: reads its standard error to the end (it and what it started have ended)
  timeout "$bound" cat <&"${errs[$1]}" >>"$w/$1.err" || fail "$1 did not end"
  status=0
  wait "${pids[$1]}" || status=$?
}

play() { # SINK START: the numbered signal into SINK from frame index START, once it plays
  launch player /dev/null pacat -v --raw --format=float32le --rate=48000 --channels=2 -d "$1" \
    <("$bin/tovanel_signal" numbered $((60 * 48000)) --start "$2")
  await player "Stream started.*"
  cat <&"${errs[player]}" >/dev/null & # the rest it says (latencies) must be read, not kept
}

watch_status() { # from here on, follows what the status file holds (tail -F shows each replacement)
  : >"$status_file"
  launch watch /dev/null bash -c 'exec tail -F -n +1 "$0" >&2 2>/dev/null' "$status_file"
  printf x >"$w/x" && mv "$w/x" "$status_file" && watch_for x # once it shows this, it shows all
}

watch_for() { # TEXT: reads what the status file held, from where the last call left, up to TEXT
  local seen="" c
  until [[ $seen == *"$1" ]]; do
    IFS= read -r -N 1 -t "$bound" -u "${errs[watch]}" c || fail "the status file never held '$1'"
    seen+=$c
  done
}

sender() { # the records of the one sender the program started: sets base
  local args=("$w"/records/sender-*.args)
  check [ "${#args[@]}" = 1 ]
  base=${args[0]%.args}
}

# The six arguments the program starts its sender with (after the sender's own path).
arguments() { printf '%s\n' "$1/tovanel-sender" --port "$2" --input stdin --status-file "$3"; }

# --- the cases --------------------------------------------------------------------------------

# Capture mode moves the default output off the virtual "BlackHole 2ch" and leaves it on
# "Built-in Output", records that sink's monitor bit for bit, and ends quietly at the next write
# once its reader has gone, with SIGPIPE inherited at its default or ignored.
case_capture_loopback() {
  server
  pactl set-default-sink blackhole
  play builtin 0
  local run
  for run in default ignored; do
    keep+=("$w/$run.raw")
    # shellcheck disable=SC2016 # the inner shell expands them
    launch "$run" >(head -c $((2 * second)) >"$w/$run.raw") bash -c 'trap "$1" PIPE && exec "$0"' \
      "$bin/tovanel-macos-capture" "$([ $run = default ] && echo -)"
    finish "$run"
    check [ "$status" = 141 ] # SIGPIPE
    check [ "$(cat "$w/$run.err")" = "tovanel-macos-capture started" ]
    check "$bin/tovanel_signal" check-numbered "$w/$run.raw" --min-frames 72000
    check [ "$(pactl get-default-sink)" = builtin ]
  done
}

# App mode through the pipe, with the input-device source or the screen source ("Device" is not
# "device"): the sender's six arguments, a stale status file emptied before it starts, its
# greetings on our standard error, the audio bit for bit on its input (the input-device source in
# whole 38400-byte buffers), "ok:" status lines, and a quiet end at the next write once it left.
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
  launch program "$w/out" env TOVANEL_INPUT=$input TOVANEL_TEST_SENDER_EXIT_AFTER=$((2 * second)) \
    "$w/app/tovanel-macos-capture" --app
  finish program
  check [ "$status" = 141 ]
  sender
  keep+=("$base.stdin")
  check [ "$(cat "$base.args")" = "$(arguments "$w/app" 48100 "$status_file")" ]
  [[ $(cat "$base.status") =~ ^(ok: .*)?$ ]] || fail "the sender saw '$(cat "$base.status")'"
  check [ "$(cat "$base.end")" = "exit 0" ]
  check grep -qx "$banner started" "$w/program.err"
  check [ "$(grep -c "^tovanel-test-sender ${base##*-}: hello on standard" "$w/program.err")" = 2 ]
  check [ ! -s "$w/out" ]
  check "$bin/tovanel_signal" check-numbered "$base.stdin" --min-frames 72000
  [[ $(cat "$status_file") =~ $pattern ]] || fail "last status: $(cat "$status_file")"
  if [ "$1" = device ]; then
    check [ "${BASH_REMATCH[2]}" = $((BASH_REMATCH[1] * 38400)) ]
    check [ "$(pactl get-default-source)" = blackhole.monitor ]
  fi
}

# The server killed, or the captured sink unloaded, while app mode captures: capture stops with the
# reason on standard error and as the status file's last word, the program exits 1, and its
# sender, not signalled, sees its input end.
case_server_fault() { # kill | unload
  server
  install_app "$w/app" sender
  watch_status
  launch program "$w/out" "$w/app/tovanel-macos-capture" --app
  watch_for "ok: screenFrames="
  case $1 in
    kill) kill -KILL "$server_pid" ;;
    unload) pactl unload-module "$(pactl list short modules | awk '/sink_name=builtin/ { print $1 }')" ;;
  esac
  finish program
  check [ "$status" = 1 ]
  local failure
  failure=$(grep '^tovanel-macos-capture: ' "$w/program.err")
  [[ $failure == "tovanel-macos-capture: capture stopped: "?* ]] || fail "said: $failure"
  check [ "$(cat "$status_file")" = "macOS capture failed: ${failure#tovanel-macos-capture: }" ]
  sender
  check [ "$(cat "$base.end")" = eof ]
}

# The server stopped for a few seconds: capture mode neither ends nor hangs, and goes on after it.
# Meanwhile app mode, its capture set-up waiting on the server, records its sender's exit status 3
# as "tovanel-sender exited: 3", which no status line can replace while the server is stopped.
case_server_stalled() {
  server
  install_app "$w/app" sender
  launch capture >(head -c $((2 * second)) >/dev/null) "$bin/tovanel-macos-capture"
  await capture "tovanel-macos-capture started"
  kill -STOP "$server_pid"
  watch_status
  launch program "$w/out" env TOVANEL_TEST_SENDER_EXIT_AFTER=0 TOVANEL_TEST_SENDER_EXIT_STATUS=3 \
    "$w/app/tovanel-macos-capture" --app
  watch_for "tovanel-sender exited: 3"
  kill -KILL "${pids[program]}"
  finish program
  check [ "$(cat "$status_file")" = "tovanel-sender exited: 3" ]
  sender
  check [ "$(cat "$base.end")" = "exit 3" ]
  sleep 3 # the stall itself
  check [ "$(cut -d' ' -f3 "/proc/${pids[capture]}/stat")" != Z ] # capture still runs
  kill -CONT "$server_pid"
  finish capture
  check [ "$status" = 141 ] # its reader had all it wanted
  check [ "$(cat "$w/capture.err")" = "tovanel-macos-capture started" ]
}

# With no server, capture mode fails at once with the reason alone on its standard error, and app
# mode once its sender runs, which is time enough to check what comes before:
# - a port with "/" and bytes that are not UTF-8 reaches the sender verbatim and names a status
#   file that stays in TMPDIR, where a symlink planted at its name is replaced, not followed;
# - started through a link named "Tovanel Sender", the program looks for its sender beside its
#   real executable, and says so when none is there;
# - the stale-sender pattern against the real /usr/bin/pkill ends a sender left running from our
#   path on our port, and leaves alone one on a port that merely begins with ours and one from a
#   path that differs only where ours has "." and "[]".
case_no_server() {
  export PULSE_SERVER=unix:$w/no-server
  launch program "$w/out" "$bin/tovanel-macos-capture"
  finish program
  check [ "$status" = 1 ] && check [ ! -s "$w/out" ] && check [ "$(wc -l <"$w/program.err")" = 1 ]
  [[ $(cat "$w/program.err") == "tovanel-macos-capture: shareable content unavailable: "*refused ]] ||
    fail "said: $(cat "$w/program.err")"

  local app="$w/a.b[1]" port=$'x/../../\xff\xfe' stale role dir
  local file=$w/tmp/tovanel-sender-x_.._.._$'\xff\xfe'-status.txt
  install_app "$app" sender
  install_app "$w/aXb1" sender
  install_app "$w/lonely"
  mkdir "$w/links" "$w/decoy" "$w/tmp/tovanel-sender-x"
  ln -s "$app/tovanel-macos-capture" "$w/links/Tovanel Sender"
  ln -s "$w/lonely/tovanel-macos-capture" "$w/decoy/Tovanel Sender"
  cp "$bin/tovanel-test-sender" "$w/decoy/tovanel-sender"
  echo precious >"$w/victim"
  ln -s "$w/victim" "$file"
  launch program "$w/out" env TOVANEL_PORT="$port" "$w/links/Tovanel Sender"
  finish program
  check [ "$status" = 1 ]
  sender
  check [ "$(cat "$base.args")" = "$(arguments "$app" "$port" "$file")" ]
  check [ -f "$file" ] && check [ ! -L "$file" ] && check [ "$(cat "$w/victim")" = precious ]
  [[ $(cat "$file") == "macOS capture failed: "?* ]] || fail "the status file holds: $(cat "$file")"
  check [ ! -e "$w/"$'\xff\xfe'-status.txt ] # where "x/../../" would have led
  launch program "$w/out" "$w/decoy/Tovanel Sender"
  finish program
  check [ "$status" = 1 ] && check [ -f "$status_file" ] && check [ ! -s "$status_file" ]
  check [ "$(cat "$w/program.err")" = \
    "PC Tovanel Sender failed to start: $w/lonely/tovanel-sender: No such file or directory" ]

  for stale in "same $app 48100" "longer $app 481001" "lookalike $w/aXb1 48100"; do
    read -r role dir port <<<"$stale"
    launch "$role" /dev/null env TOVANEL_TEST_SENDER_STAY=1 "$dir/tovanel-sender" --port "$port" \
      --input stdin --status-file /dev/null
    await "$role" "tovanel-test-sender [0-9]+: hello on standard error"
  done
  launch program "$w/out" env TOVANEL_TEST_SENDER_EXIT_AFTER=0 "$app/tovanel-macos-capture" --app
  finish program
  check [ "$status" = 1 ]
  finish same
  check [ "$status" = 143 ] # SIGTERM
  check [ "$(cat "$w/records/sender-${pids[same]}.end")" = "signal 15" ]
  for stale in longer lookalike; do
    kill -KILL "${pids[$stale]}"
    finish "$stale"
    check [ "$(cat "$w/records/sender-${pids[$stale]}.end")" = eof ]
  done
}

"case_$case" ${argument:+"$argument"}
