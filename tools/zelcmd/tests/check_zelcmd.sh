#!/usr/bin/env bash
# Runs zelcmd against the simulated controller and checks what it prints.
# Usage: check_zelcmd.sh ZELCMD GROUP    (GROUP: multi-axis | single-axis | commands)
set -u
zelcmd=$1
group=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"   # no command table (QUBRACOM.DAT) in the current directory
# zelcmd writes its temporary configuration here; it must be gone afterwards.
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"
export LC_ALL=C   # positions with a decimal point
unset ZELCOMM_INI
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run NAME STATUS ARGS...: runs zelcmd with ARGS (standard input from $work/NAME.in
# when it exists), keeps its output in $work/NAME.out and .err, checks the exit status.
run() {
  local name=$1 status=$2
  shift 2
  local input=/dev/null
  [ -f "$work/$name.in" ] && input=$work/$name.in
  "$zelcmd" "$@" <"$input" >"$work/$name.out" 2>"$work/$name.err"
  local got=$?
  if [ "$got" -ne "$status" ]; then
    fail "$name: exit status $got, expected $status"
    sed 's/^/  stderr: /' "$work/$name.err"
  fi
}

# has NAME STREAM LINE: the stream (out or err) holds LINE as a whole line.
has() {
  grep -qxF -- "$3" "$work/$1.$2" || fail "$1: no line '$3' in standard ${2/err/error}"
}

# lacks NAME STREAM LINE
lacks() {
  ! grep -qxF -- "$3" "$work/$1.$2" || fail "$1: unexpected line '$3'"
}

# follows NAME LINE NEXT [NTH]: the line after the NTH (default first) LINE is NEXT.
follows() {
  local nth=${4:-1}
  local got
  got=$(awk -v want="$2" -v nth="$nth" 'found { print; exit } $0 == want && ++n == nth { found = 1 }' \
        "$work/$1.out")
  [ "$got" = "$3" ] || fail "$1: after '$2' (#$nth) came '$got', expected '$3'"
}

# settles NAME MOVE POS: after MOVE, the wait for standstill ends with "Done"
# and the position read after it is POS.
settles() {
  local got
  got=$(awk -v move="$2" 'moved && $0 == "Done" { getline; print; exit } $0 == move { moved = 1 }' \
        "$work/$1.out")
  [ "$got" = "$3" ] || fail "$1: after '$2' and Done came '$got', expected '$3'"
}

count_is() {  # NAME LINE COUNT
  local got
  got=$(grep -cxF -- "$2" "$work/$1.out")
  [ "$got" -eq "$3" ] || fail "$1: '$2' appears $got times, expected $3"
}

case $group in
multi-axis)
  run multi 0 --demo --type default --axes 3 walkthrough
  follows multi "Processing Identify() ..." "Controller in demo mode"
  has multi out "Processing SetAxisMode(1,1,0,0) ..."
  follows multi "Processing GetAxisMode() ..." "1 1 0"
  follows multi "Processing GetVelocity() ..." "25.00000"
  follows multi "Processing GetJoystickVelocity() ..." "5.00000"
  settles multi "Processing MoveAbsolute(10,20,0) ..." "Pos. 10.00000 20.00000 0.00000 "
  settles multi "Processing MoveRelative(-5,-10,0) ..." "Pos. 5.00000 10.00000 0.00000 "
  follows multi "Processing MoveAbsoluteAutoReply(15,20,0) ..." "Pos. 15.00000 20.00000 0.00000 "
  follows multi "Processing MoveRelativeAutoReply(-5,-10,0) ..." "Pos. 10.00000 10.00000 0.00000 "
  follows multi "Processing GetPosAxis() ..." "10.00000"
  has multi out "Axis3: Min=0.00000 | Max=0.00000"
  lacks multi out "Axis4: Min=0.00000 | Max=0.00000"
  lacks multi out "Processing Calibrate ..."
  # The reply of the asynchronous query arrives as a message and ends the output.
  follows multi "Processing GetError in asynchronous mode ..." "0"
  [ "$(tail -n 1 "$work/multi.out")" = "0" ] || fail "multi: the asynchronous reply is not the last line"
  [ ! -s "$work/multi.err" ] || fail "multi: standard error not empty: $(cat "$work/multi.err")"
  ;;
single-axis)
  run single 0 --demo --type wendalo --axes 2 walkthrough
  count_is single "Prusk test axis 1" 1
  count_is single "Prusk test axis 2" 1
  lacks single out "Prusk test axis 3"
  follows single "" "Prusk test axis 1"
  follows single "Processing SetAxisModeA(1,Axis) ..." "Done"
  follows single "Processing GetAxisModeA() ..." "1"
  follows single "Processing GetVelocityA() ..." "25.000000"
  settles single "Processing MoveAbsoluteA(20) ..." "Pos. 20.000000"
  settles single "Processing MoveRelativeA(-10) ..." "Pos. 10.000000"
  follows single "Processing MoveAbsoluteAutoReplyA(15) ..." "Pos. 15.000000" 2
  follows single "Processing MoveRelativeAutoReplyA(-10) ..." "Pos. 5.000000" 2
  count_is single "Processing GetErrorA() in asynchronous mode ..." 2
  follows single "Processing GetErrorA() in asynchronous mode ..." "0" 1
  follows single "Processing GetErrorA() in asynchronous mode ..." "0" 2
  [ ! -s "$work/single.err" ] || fail "single: standard error not empty: $(cat "$work/single.err")"
  ;;
commands)
  # Refusals by the library: the code is the exit status and is named on standard error.
  while IFS='|' read -r name status message args; do
    # shellcheck disable=SC2086
    run "$name" "$status" $args
    has "$name" err "$message"
  done <<'EOF'
port|4|zelcmd: InitController(1,3,9,0,1050884) failed: 4 (port number above 8)|--demo --port 9 send version
fistra-axes|7|zelcmd: InitController(8,2,0,0,1050884) failed: 7 (this controller type needs exactly one axis)|--demo --type fistra --axes 2 send version
varne-baud|9|zelcmd: InitController(2,4,0,19200,1050884) failed: 9 (baud rate not supported)|--demo --type varne --baud 19200 send version
table|22|zelcmd: ExecuteCommand("version", -1) failed: 22 (no command table loaded)|--demo send --lines -1 version
bad-type|64|zelcmd: unknown controller type 'nine'|--demo --type nine send version
EOF

  run send 0 --demo send version
  has send out "0.00"

  # The shell goes on after a refused command; "N:" sets the reply lines of one command.
  printf 'version\n-1: version\n0: version\n:lines 1\nidentify\nquit\nversion\n' >"$work/shell.in"
  run shell 0 --demo shell
  has shell err 'zelcmd: ExecuteCommand("version", -1) failed: 22 (no command table loaded)'
  [ "$(cat "$work/shell.out")" = $'0.00\nController in demo mode' ] ||
    fail "shell: output was '$(cat "$work/shell.out")'"

  # --demo keeps the other settings of the configuration: its CMode selects a
  # single-axis controller, which answers "1 nversion".
  printf '[Startup]\nMode=COM\nCMode=Prusk\nTimeOut=300\n[Ports]\nCOM1=%s/none\nCOM2=%s/none\n' \
    "$work" "$work" >"$work/serial.ini"
  run config-demo 0 --config "$work/serial.ini" --demo send 1 nversion
  has config-demo out "0.00"

  # Without any configuration zelcmd says so and uses the simulated controller.
  run no-config 0 send identify
  has no-config out "Controller in demo mode"
  has no-config err "zelcmd: no ZELCOMM.INI found; using the simulated controller"

  leftovers=$(ls -A "$TMPDIR")
  [ -z "$leftovers" ] || fail "temporary configuration files left behind: $leftovers"
  ;;
*)
  echo "unknown group $group" >&2
  exit 2
  ;;
esac

[ "$failures" -eq 0 ] || exit 1
echo "zelcmd $group: all checks passed"
