#!/usr/bin/env bash
# The loopback a script builds: tovanel_signal piped into pacat, parec on the sink's monitor,
# tovanel_signal checking the recording. Runs under the private-server fixture; failed captures
# are kept as WAV files in TMPDIR. The signals start after a lead-in of silence: a stream joining
# a sink that already runs loses its first few milliseconds on the monitor.
# usage: pulse_tool_loopback_tests.sh PATH/TO/tovanel_signal
set -euo pipefail

tool=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/pulse-tool-loopback.XXXXXX")
recorder=""
cleanup() {
  [ -z "$recorder" ] || kill "$recorder" 2>/dev/null || true
  rm -rf -- "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

readonly format=(--raw --format=float32le --rate=48000 --channels=2)

# loopback SINK OUTPUT GENERATOR-ARGS...: records SINK's monitor while the signal plays.
loopback() {
  local sink=$1 output=$2 tenths=50
  shift 2
  parec --device="$sink.monitor" "${format[@]}" --latency-msec=20 >"$output" &
  recorder=$!
  until [ -s "$output" ]; do
    tenths=$((tenths - 1))
    [ "$tenths" -gt 0 ] || fail "parec recorded nothing from $sink.monitor within 5 s"
    sleep 0.1
  done
  "$tool" "$@" | timeout 20 pacat --playback --device="$sink" "${format[@]}" ||
    fail "playing into $sink failed"
  sleep 0.3
  kill -INT "$recorder"
  wait "$recorder" || true
  recorder=""
}

echo "== the numbered signal through blackhole comes back bit for bit"
loopback blackhole "$work/numbered.raw" numbered --seconds 1 --start-index 777 --lead-in 0.2
"$tool" check-numbered "$work/numbered.raw" --frames 48000 --first-index 777 \
  --wav-on-failure "$TMPDIR/pulse_tool_loopback-numbered.wav" || fail "the numbered loopback failed"

echo "== a tone through the default sink keeps its frequency, level and phase"
[ "$(pactl get-default-sink)" = builtin ] || fail "the default sink is not builtin"
loopback builtin "$work/tone.raw" tone --seconds 1.5 --frequency 1000 --level -12 --lead-in 0.2
"$tool" check-tone "$work/tone.raw" --frequency 1000 --frequency-tolerance 0.01 --level -12 \
  --level-tolerance 0.01 --min-seconds 1 \
  --wav-on-failure "$TMPDIR/pulse_tool_loopback-tone.wav" || fail "the tone loopback failed"

echo "PASS"
