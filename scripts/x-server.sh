# SPDX-License-Identifier: MIT
# Sourced: ensure_x_server makes DISPLAY name an X server that answers,
# starting Xvfb on a free display when none does. That server ends with the
# shell that started it (the kernel signals it when its parent ends), so the
# caller's traps are left alone.

ensure_x_server() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local display_file
  display_file=$(mktemp)
  # -noreset: otherwise the server resets whenever its last client leaves,
  # and refuses the clients that connect meanwhile.
  setpriv --pdeathsig TERM Xvfb -displayfd 5 -noreset -nolisten tcp -screen 0 640x480x24 \
    5>"$display_file" >/dev/null 2>&1 &
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
