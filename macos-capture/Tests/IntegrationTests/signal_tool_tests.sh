#!/usr/bin/env bash
# tovanel_signal from a script's side: what it writes, what its checks print, and its exit
# statuses (0 pass, 1 fail, 2 usage) on clean and damaged captures.
# usage: signal_tool_tests.sh PATH/TO/tovanel_signal
set -euo pipefail

tool=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/signal-tool-tests.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

capture() {
  status=0
  output=$("$@" 2>&1) || status=$?
}

expect() {
  local want=$1 pattern=$2
  shift 2
  capture "$@"
  [ "$status" -eq "$want" ] || fail "'$*' exited $status, not $want: $output"
  [[ $output == *$pattern* ]] || fail "'$*' printed '$output', without '$pattern'"
}

echo "== the numbered signal, clean and damaged"
"$tool" numbered --frames 48000 --start-index 5 >"$work/n.raw"
[ "$(stat -c %s "$work/n.raw")" -eq 384000 ] || fail "48000 frames are not 384000 bytes"
expect 0 "numbered pass frames=48000 captured=48000 lost=0" \
  "$tool" check-numbered "$work/n.raw" --frames 48000 --first-index 5
expect 1 "problems=first_index" "$tool" check-numbered "$work/n.raw" --first-index 6
expect 1 "problems=captured_count" "$tool" check-numbered "$work/n.raw" --frames 47999
expect 0 "numbered pass" sh -c "cat '$work/n.raw' | '$tool' check-numbered -"
"$tool" numbered --frames 10 --start-index 3 --lead-in 0.001 >"$work/lead.raw"
[ "$(stat -c %s "$work/lead.raw")" -eq $(((48 + 10) * 8)) ] || fail "--lead-in did not add 48 silent frames"
expect 0 "captured=10 lost=0 repeated=0 altered=0 silent=0 inserted=0 leading_silence=48" \
  "$tool" check-numbered "$work/lead.raw" --first-index 3

cp "$work/n.raw" "$work/altered.raw"
printf '\x00\x00\xc0\x7f' | dd of="$work/altered.raw" bs=1 seek=80000 conv=notrunc status=none
expect 1 "altered=1" "$tool" check-numbered "$work/altered.raw" --wav-on-failure "$work/altered.wav"
[ "$(head -c 4 "$work/altered.wav")" = RIFF ] || fail "the failed capture was not kept as WAV"
[[ $output == *"faults=altered:1@10000"* ]] || fail "the altered frame was not located: $output"

{ head -c 8000 "$work/n.raw"; tail -c +8009 "$work/n.raw"; } >"$work/lost.raw"
expect 1 "lost=1" "$tool" check-numbered "$work/lost.raw"
[[ $output == *"faults=lost:1@1000"* ]] || fail "the lost frame was not located: $output"
{ cat "$work/n.raw"; printf 'abc'; } >"$work/partial.raw"
expect 0 "trailing_bytes=3" "$tool" check-numbered "$work/partial.raw"

echo "== the tone"
"$tool" tone --seconds 2 --frequency 997 --level -20 >"$work/t.raw"
[ "$(stat -c %s "$work/t.raw")" -eq 768000 ] || fail "2 s are not 768000 bytes"
expect 0 "tone pass" "$tool" check-tone "$work/t.raw" --frequency 997 --level -20 --min-seconds 1
expect 1 "problems=frequency" "$tool" check-tone "$work/t.raw" --frequency 1000
expect 1 "problems=level" "$tool" check-tone "$work/t.raw" --level -12
expect 1 "problems=too_short" "$tool" check-tone "$work/t.raw" --min-seconds 3
{ head -c 400000 "$work/t.raw"; tail -c +400009 "$work/t.raw"; } >"$work/skip.raw"
expect 1 "faults=skip:1@50000" "$tool" check-tone "$work/skip.raw"
expect 1 "problems=no_tone" "$tool" check-tone /dev/null

echo "== endless output ends quietly when its reader goes"
capture bash -c "'$tool' numbered --endless | head -c 80000 | wc -c; echo \"\${PIPESTATUS[0]}\""
[ "$output" = $'80000\n0' ] || fail "an endless signal did not end with its reader: $output"

echo "== wav conversion"
"$tool" wav "$work/t.raw" "$work/t.wav"
[ "$(stat -c %s "$work/t.wav")" -eq $((768000 + 58)) ] || fail "the float WAV has the wrong size"
"$tool" wav "$work/t.raw" "$work/t16.wav" --pcm16
[ "$(stat -c %s "$work/t16.wav")" -eq $((384000 + 44)) ] || fail "the 16-bit WAV has the wrong size"

echo "== usage errors exit 2"
expect 2 "unknown command" "$tool" frobnicate
expect 2 "needs a number" "$tool" tone --seconds abc
expect 2 "exactly one of" "$tool" numbered
expect 2 "level" "$tool" tone --seconds 1 --level 0
expect 2 "--lead-in must" "$tool" numbered --seconds 1 --lead-in -1
expect 2 "unknown argument" "$tool" check-numbered "$work/n.raw" --bogus
expect 2 "cannot open" "$tool" check-numbered "$work/missing.raw"
expect 2 "tolerance" "$tool" check-numbered "$work/n.raw" --tolerance 0.001

echo "PASS"
