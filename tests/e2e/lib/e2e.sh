# Shared helpers of the end-to-end scripts. Source it (lighttpd.sh does).
#   on_exit CMD        runs CMD when the script ends: normally, on error, or on
#                      SIGTERM/SIGINT/SIGHUP (ctest's timeout, Ctrl-C); later
#                      registrations run first
#   check NAME CMD...  counts a passed or failed assertion; finish reports them
#   skip REASON        ends the script as skipped (ctest shows it so)
#   free_port          prints a loopback port nobody listens on now; a server
#                      that then fails to bind it simply tries the next one
#   same_pixels A B    two pictures of one size with the same RGB pixels
#   header_has NAME T  a line of $WORK/NAME.head starts with T (any case)
#   message_page TEXT  prints the program's message page for TEXT (already
#                      escaped), from the reviewed tests/e2e/expected copy; needs SRC
# A script's first line after sourcing may carry "# ctest-timeout: SECONDS"
# (tests/CMakeLists.txt reads it); keep it near the script's real length.

E2E_EXIT_HANDLERS=()
on_exit() { E2E_EXIT_HANDLERS=("$1" "${E2E_EXIT_HANDLERS[@]}"); }
e2e_run_exit_handlers() {
  local handler
  for handler in "${E2E_EXIT_HANDLERS[@]}"; do eval "$handler" || true; done
  E2E_EXIT_HANDLERS=()
}
trap e2e_run_exit_handlers EXIT
# A signal ends the script through exit, so the EXIT handlers run.
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

E2E_SKIP=77
skip() {
  echo "SKIP $1"
  exit "$E2E_SKIP"
}

free_port() {
  local port
  for _ in $(seq 1 100); do
    port=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

same_pixels() {  # ImageMagick's reading of both; scratch files in $WORK
  [ "$(/usr/bin/identify -format '%wx%h' "$1")" = "$(/usr/bin/identify -format '%wx%h' "$2")" ] &&
    /usr/bin/convert "$1" -depth 8 rgb:"$WORK/a.rgb" && /usr/bin/convert "$2" -depth 8 rgb:"$WORK/b.rgb" &&
    cmp -s "$WORK/a.rgb" "$WORK/b.rgb"
}
header_has() { grep -qi "^$2" "$WORK/$1.head"; }
message_page() {
  python3 - "$SRC/tests/e2e/expected/message_page.html" "$1" <<'PY'
import sys
sys.stdout.buffer.write(open(sys.argv[1], 'rb').read().replace(b'@MESSAGE@', sys.argv[2].encode()))
PY
}

# Assertion helpers; failures are counted, the script exits non-zero at the end.
FAILURES=0
PASSES=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then
    PASSES=$((PASSES + 1))
    echo "ok   $name"
  else
    FAILURES=$((FAILURES + 1))
    echo "FAIL $name"
  fi
}
finish() {
  echo "$PASSES passed, $FAILURES failed"
  [ "$FAILURES" -eq 0 ]
}
