# Sourced: ensure_x_server makes DISPLAY name a running X server, starting
# Xvfb on a free display when none is there; that server ends with the
# shell that started it.

ensure_x_server() {
  if [ -n "${DISPLAY:-}" ]; then
    local number=${DISPLAY#*:}
    number=${number%%.*}
    # A local display is usable only when its socket is there.
    if [ "${DISPLAY%%:*}" != "" ] || [ -S "/tmp/.X11-unix/X$number" ]; then
      return 0
    fi
  fi
  local display_file
  display_file=$(mktemp)
  # -noreset: otherwise the server resets whenever its last client leaves,
  # and refuses the clients that connect meanwhile.
  Xvfb -displayfd 5 -noreset -nolisten tcp -screen 0 640x480x24 5>"$display_file" \
    >/dev/null 2>&1 &
  X_SERVER_PID=$!
  trap 'kill "$X_SERVER_PID" 2>/dev/null || true' EXIT
  for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
  done
  if [ ! -s "$display_file" ]; then
    echo "Xvfb did not start" >&2
    rm -f "$display_file"
    return 1
  fi
  export DISPLAY=":$(tr -d '\n' <"$display_file")"
  rm -f "$display_file"
}
