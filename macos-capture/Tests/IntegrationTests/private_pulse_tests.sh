#!/usr/bin/env bash
# private-pulse itself: a private server with exact sink descriptions and defaults, idempotent
# start and stop, a stop that ends only what start started, and the skip-or-fail rule when no
# server can start. Runs its own server in a scratch directory, not the fixture's.
# usage: private_pulse_tests.sh PATH/TO/private-pulse
# shellcheck disable=SC2015 # "check && check || fail" is meant: fail exits.
set -euo pipefail

script=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/private-pulse-tests.XXXXXX")
dir=$work/server
sleeper=""

cleanup() {
  bash "$script" stop "$dir" >/dev/null 2>&1 || true
  [ -z "$sleeper" ] || kill "$sleeper" 2>/dev/null || true
  rm -rf -- "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

pp() {
  bash "$script" "$@"
}

# Runs "$@" and leaves its status in $status and its combined output in $output.
capture() {
  status=0
  output=$("$@" 2>&1) || status=$?
}

ended() {
  [ ! -r "/proc/$1/stat" ] || [ "$(sed -e 's/^.*) //' "/proc/$1/stat" | cut -d' ' -f1)" = Z ]
}

in_server() {
  (
    # shellcheck disable=SC1091
    source "$dir/env"
    LC_ALL=C "$@"
  )
}

if ! command -v pulseaudio >/dev/null 2>&1; then
  case "${CI:-}" in
    true | 1) fail "pulseaudio is not installed (CI=true: a missing server is a failure)" ;;
  esac
  echo "SKIPPED: pulseaudio is not installed"
  exit 77
fi

echo "== start: a private server with two described sinks and chosen defaults"
pp start "$dir" --sink "builtin=Built-in Output" --sink "blackhole=BlackHole 2ch" \
  --default-sink blackhole --default-source builtin.monitor
pid=$(cat "$dir/pid")
[ -n "$pid" ] && ! ended "$pid" || fail "no running daemon recorded in $dir/pid"
[ "$(stat -c %a "$dir/runtime")" = 700 ] || fail "the runtime folder is not mode 700"
grep -qxF "export PULSE_SERVER='unix:$dir/runtime/pulse/native'" "$dir/env" ||
  fail "the env file does not name the private socket: $(cat "$dir/env")"
descriptions=$(in_server pactl list sinks | sed -n 's/^[[:space:]]*Description: //p')
[ "$descriptions" = $'Built-in Output\nBlackHole 2ch' ] ||
  fail "sink descriptions are not exact: $descriptions"
[ "$(in_server pactl get-default-sink)" = blackhole ] || fail "the default sink was not set"
[ "$(in_server pactl get-default-source)" = builtin.monitor ] || fail "the default source was not set"
in_server pactl list sinks short | grep -q 'float32le 2ch 48000Hz' || fail "sinks are not float32le stereo 48 kHz"

echo "== start again: the same daemon, no sink loaded twice"
pp start "$dir" --sink "builtin=Built-in Output" --sink "blackhole=BlackHole 2ch"
[ "$(cat "$dir/pid")" = "$pid" ] || fail "a second start replaced the running daemon"
[ "$(in_server pactl list sinks short | wc -l)" -eq 2 ] || fail "a second start loaded sinks again"
capture pp start "$dir" --sink "builtin=Something Else"
[ "$status" -eq 1 ] && [[ $output == *"already exists with description 'Built-in Output'"* ]] ||
  fail "a sink of the same name with another description was accepted: $output"
[ "$(cat "$dir/pid")" = "$pid" ] && ! ended "$pid" || fail "a refused start stopped the running daemon"

echo "== status, env and run reach that server"
pp status "$dir" >/dev/null || fail "status does not see the running server"
[ "$(pp env "$dir")" = "$(cat "$dir/env")" ] || fail "env does not print the env file"
# shellcheck disable=SC2016 # the inner shell expands it
reached=$(PULSE_SERVER=unix:/nonexistent PULSE_SINK=elsewhere pp run "$dir" -- \
  sh -c 'pactl get-default-sink; echo "${PULSE_SINK:-unset}"')
[ "$reached" = $'blackhole\nunset' ] ||
  fail "run does not point the command at the private server only"

echo "== stop: ends the daemon, keeps its log, and is idempotent"
pp stop "$dir"
ended "$pid" || fail "the daemon $pid still runs after stop"
[ ! -e "$dir/pid" ] && [ ! -e "$dir/env" ] || fail "stop left the pid or env file"
[ -s "$dir/pulseaudio.log" ] || fail "stop removed the daemon's log"
[ ! -e "$dir/runtime/pulse/native" ] || fail "the socket outlived the daemon"
pp stop "$dir" || fail "a second stop failed"
pp stop "$work/never-started" || fail "stop of a directory never used failed"
[ ! -e "$work/never-started" ] || fail "stop created a directory"
! pp status "$dir" >/dev/null || fail "status reports a stopped server as running"
capture pp env "$dir"
[ "$status" -eq 1 ] || fail "env printed an environment for a stopped server"

echo "== stop leaves alone a process it did not start"
sleep 60 &
sleeper=$!
echo "$sleeper" >"$dir/pid"
capture pp stop "$dir"
[ "$status" -eq 0 ] && [[ $output == *"not the server started there; left alone"* ]] ||
  fail "stop did not say it left a foreign process alone: $output"
ended "$sleeper" && fail "stop killed a process it did not start"
[ ! -e "$dir/pid" ] || fail "stop kept a pid file naming a foreign process"
kill "$sleeper"
sleeper=""

echo "== a stale pid file does not stop a new start; --fresh restarts"
echo 999999999 >"$dir/pid"
pp start "$dir" --sink "builtin=Built-in Output" --default-sink builtin
first=$(cat "$dir/pid")
pp start "$dir" --fresh --sink "builtin=Built-in Output"
second=$(cat "$dir/pid")
[ "$first" != "$second" ] && ended "$first" && ! ended "$second" || fail "--fresh did not restart"
pp stop "$dir"

echo "== run and fixture-setup skip outside CI and fail under CI when there is no server"
capture env -u CI bash "$script" run "$dir" -- true
[ "$status" -eq 77 ] && [[ $output == "SKIPPED: "* ]] || fail "run did not skip: $status $output"
capture env CI=true bash "$script" run "$dir" -- true
[ "$status" -eq 1 ] || fail "run did not fail under CI: $status $output"
capture env -u CI TOVANEL_PULSEAUDIO_BINARY=/nonexistent bash "$script" fixture-setup "$dir"
[ "$status" -eq 77 ] && [[ $output == *"SKIPPED: /nonexistent not found"* ]] ||
  fail "fixture-setup did not skip: $status $output"
capture env -u CI bash "$script" run "$dir" -- true
[ "$status" -eq 77 ] && [[ $output == *"/nonexistent not found"* ]] ||
  fail "run did not pass on the setup's reason: $output"
capture env CI=true TOVANEL_PULSEAUDIO_BINARY=/nonexistent bash "$script" fixture-setup "$dir"
[ "$status" -eq 1 ] || fail "fixture-setup did not fail under CI: $status $output"

echo "== a daemon that dies at start is reported at once and leaves nothing running"
capture env TOVANEL_PULSEAUDIO_BINARY=false bash "$script" start "$dir"
[ "$status" -eq 1 ] && [[ $output == *"ended at start"* ]] || fail "a dead daemon was not reported: $output"
[ ! -e "$dir/pid" ] || fail "a failed start left a pid file"

echo "== unsafe or unusable arguments are refused before anything starts"
for bad in 'q=Say "hi"' "q=it's" 'q=back\slash' 'bad name=X' '=X' 'noequals' 'q='; do
  capture pp start "$work/refused" --sink "$bad"
  [ "$status" -eq 1 ] && [[ $output == *"error:"* ]] || fail "--sink '$bad' was accepted"
  [ ! -e "$work/refused/pid" ] || fail "--sink '$bad' started a daemon"
done
capture pp start "$work/$(printf 'x%.0s' {1..120})"
[ "$status" -eq 1 ] && [[ $output == *"socket path too long"* ]] || fail "an overlong socket path was accepted: $output"
capture pp start "$work/with space"
[ "$status" -eq 1 ] || fail "a DIR with a space was accepted"
capture pp frobnicate
[ "$status" -ne 0 ] || fail "an unknown command was accepted"

echo "PASS"
