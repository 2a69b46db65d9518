# What private-pulse and private-pipewire share (sourced): the command line, null sinks, default
# sink, env lines (pointing a shell's clients at the server) and stop (of every daemon, a stopped
# one too, waiting for their end). Each sets `socket` (the clients', under DIR) and defines `launch`
# (its daemons, all state under $dir), `server_pids` (those alive, the one clients talk to first)
# and maybe `prepare` (once the server answers).
set -euo pipefail
name=${0##*/}
die() { echo "$name: $*" >&2; exit 1; }

# Module arguments hold the paths unquoted, and a unix socket path has 108 bytes.
[[ ${1:-} =~ ^(start|env|pid|stop)$ && ${2:-} && $2 != *[[:space:]\'\"\\]* ]] ||
  die "usage: $name start|env|pid|stop DIR (no spaces or quotes) [options]"
dir=$(realpath -m -- "$2") && socket=$dir/${socket:?}
[ "${#socket}" -lt 108 ] || die "socket path too long for a unix socket: $socket"

env_lines() {
  [ -n "$(server_pids)" ] || die "no server runs in $dir"
  echo "export PULSE_SERVER='unix:$socket' PULSE_CLIENTCONFIG='$dir/client.conf'"
  echo "unset PULSE_SINK PULSE_SOURCE PULSE_PROP PULSE_LATENCY_MSEC"
}

stop() {
  local pids _
  read -r -a pids <<<"$(server_pids)"
  { kill -TERM "${pids[@]}" && kill -CONT "${pids[@]}"; } 2>/dev/null || true # stopped ones too
  for _ in {1..50}; do [ -n "$(server_pids)" ] || break; sleep 0.1; done # their end, 5 s at most
  read -r -a pids <<<"$(server_pids)"
  kill -KILL "${pids[@]}" 2>/dev/null || true
  rm -f -- "$socket"
}

until_true() { # COMMAND...: again every 50 ms until it succeeds, for 10 s at most
  for _ in {1..200}; do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done; return 1
}

is_default() { pactl set-default-sink "$1" && [ "$(pactl get-default-sink)" = "$1" ]; }

start() {
  local sinks=() default="" spec
  while [ $# -gt 0 ]; do
    case $1 in
      --sink) sinks+=("${2:?--sink needs NAME=DESCRIPTION}") ;;
      --default-sink) default=${2:?--default-sink needs a sink name} ;;
      *) die "unknown option: $1" ;;
    esac
    shift 2
  done
  stop
  mkdir -p -- "$dir/runtime" && chmod 700 -- "$dir/runtime"
  echo "autospawn = no" >"$dir/client.conf"
  launch
  eval "$(env_lines)"
  until_true pactl info || die "the server did not answer: $(tail -n 3 "$dir/log")"
  ! declare -F prepare >/dev/null || prepare
  for spec in "${sinks[@]}"; do
    # Two levels of quoting: the module's arguments, then the property list inside them.
    timeout 10 pactl load-module module-null-sink "sink_name=${spec%%=*}" format=float32le \
      rate=48000 channels=2 "sink_properties='device.description=\"${spec#*=}\"'" >/dev/null ||
      die "could not load the null sink ${spec%%=*}"
  done
  # Set again until the server says so: on PipeWire the session manager applies it, once it runs.
  [ -z "$default" ] || until_true is_default "$default" || die "$default did not become the default"
}

case $1 in
  start) shift 2 && start "$@" ;;
  env) env_lines ;;
  pid) read -r pid _ <<<"$(server_pids)"; [ -n "${pid:-}" ] || die "no server runs in $dir"; echo "$pid" ;;
  stop) stop ;;
esac
