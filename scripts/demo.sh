#!/bin/sh
# The station doing its whole job on this machine: builds Tavrel, prepares a
# demo program directory, starts the stand-in master station (tavrel-master)
# and the station (tavrel --headless) side by side on loopback multicast,
# shows the station's status line while the tables fill, and ends with where
# everything is and a short summary.
#
#   scripts/demo.sh [--seconds N] [--securities N] [--dir DIR]
#
# Default: one compressed trading day (about two minutes), 8000 securities,
# the demo directory ${TMPDIR:-/tmp}/tavrel-demo. Ctrl-C stops both cleanly.
# The build goes to build/ (as scripts/test.sh's), or to $TAVREL_BUILD_DIR;
# $TAVREL_DEMO_PORT chooses the first of the two UDP ports (39301).
set -e
cd "$(dirname "$0")/.."
ROOT=$(pwd)

SECONDS_OPT=""
SECURITIES=8000
DEMO_DIR="${TMPDIR:-/tmp}/tavrel-demo"
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) SECONDS_OPT="$2"; shift 2 ;;
    --securities) SECURITIES="$2"; shift 2 ;;
    --dir) DEMO_DIR="$2"; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$SECURITIES" in ''|*[!0-9]*) echo "demo.sh: --securities needs a number" >&2; exit 2 ;; esac
if [ -n "$SECONDS_OPT" ]; then
  case "$SECONDS_OPT" in ''|*[!0-9]*) echo "demo.sh: --seconds needs a whole number" >&2; exit 2 ;; esac
fi

echo "== setup"
scripts/setup.sh
BUILD="${TAVREL_BUILD_DIR:-$ROOT/build}"
echo "== build ($BUILD)"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j 2 --target tavrel tavrel-master
TAVREL="$BUILD/shell/tavrel"
MASTER="$BUILD/mastersim/tavrel-master"

# A fresh program directory: configuration, tables, log.
mkdir -p "$DEMO_DIR"
DEMO_DIR=$(cd "$DEMO_DIR" && pwd)
rm -rf "$DEMO_DIR/data" "$DEMO_DIR/Log" "$DEMO_DIR/bulletin" "$DEMO_DIR/truth"
mkdir -p "$DEMO_DIR/data"
PORT1=${TAVREL_DEMO_PORT:-39301}
PORT2=$((PORT1 + 1))
GROUP1=239.20.0.11
GROUP2=239.21.0.11
cat > "$DEMO_DIR/Tavrel.cfg" <<EOF
[CONFIG]
CfgVersion=V20160921
usrId=
AuthID=DEMO0000000001
rcv_Mcast=0
rcvZSXX=0
rcvFGKCJXX=0
rcvFGKSBXX=0
mcRcvPort1=$PORT1
mcRcvPort2=$PORT2
mcRcvAddr1=$GROUP1
mcRcvAddr2=$GROUP2
enableQuerySupport=0
queryLsnAddr=0
queryLsnPort=0
dwFlag=1048576
dwKeepFileDays=0
mcNetCard1=127.0.0.1
mcNetCard2=127.0.0.1
szDefaultDataPath=$DEMO_DIR/data
szLogPath=$DEMO_DIR/Log
NQHQ_File=$DEMO_DIR/data/NQHQ.DBF
NQXYXX_File=$DEMO_DIR/data/NQXYXX.DBF
NQZSXX_File=
NQXX_File=$DEMO_DIR/data/NQXX.DBF
NQFGKSBXX_File=
NQFGKCJXX_File=
szTYBulletinPath=$DEMO_DIR/bulletin
szTYOpenFlagFile=$DEMO_DIR/data/open.flag
[ServerInfoNUM]
Servers0=0
Servers1=0
EOF
# Log lines at Warn and above on the terminal's log; the file keeps everything.
printf 'fileLogLevel = 200\nviewLogLevel = 400\n' > "$DEMO_DIR/runParams.Cfg"

STATION_PID=""
MASTER_PID=""
INTERRUPTED=0
stop_children() {
  # The stand-in first (it completes its rounds), then the station.
  if [ -n "$MASTER_PID" ] && kill -0 "$MASTER_PID" 2>/dev/null; then
    kill -INT "$MASTER_PID" 2>/dev/null || true
    wait "$MASTER_PID" 2>/dev/null || true
  fi
  if [ -n "$STATION_PID" ] && kill -0 "$STATION_PID" 2>/dev/null; then
    sleep 1
    kill -TERM "$STATION_PID" 2>/dev/null || true
    wait "$STATION_PID" 2>/dev/null || true
  fi
}
trap 'INTERRUPTED=1' INT TERM

log_text() {
  # The log is GBK on disk.
  cat "$DEMO_DIR"/Log/*.Log 2>/dev/null | iconv -f GBK -t UTF-8 2>/dev/null || true
}

echo "== start the station: $TAVREL --headless --dir $DEMO_DIR"
# Each program in a session of its own: Ctrl-C reaches this script only,
# which then stops them in order.
setsid "$TAVREL" --headless --dir "$DEMO_DIR" 2>"$DEMO_DIR/station.err" &
STATION_PID=$!
waited=0
until log_text | grep -q "通信模块启动成功"; do
  if ! kill -0 "$STATION_PID" 2>/dev/null || [ $waited -ge 200 ]; then
    echo "demo.sh: the station did not start; its messages:" >&2
    cat "$DEMO_DIR/station.err" >&2
    stop_children
    exit 1
  fi
  sleep 0.1
  waited=$((waited + 1))
done

MASTER_ARGS="--securities $SECURITIES --group1 $GROUP1 --port1 $PORT1 --group2 $GROUP2 --port2 $PORT2"
MASTER_ARGS="$MASTER_ARGS --truth $DEMO_DIR/truth --progress 10"
[ -n "$SECONDS_OPT" ] && MASTER_ARGS="$MASTER_ARGS --duration $SECONDS_OPT"
echo "== start the stand-in master station: tavrel-master $MASTER_ARGS"
echo "   (its progress goes to $DEMO_DIR/master.log; Ctrl-C stops both)"
# shellcheck disable=SC2086
setsid "$MASTER" $MASTER_ARGS >"$DEMO_DIR/master.log" 2>&1 &
MASTER_PID=$!

while kill -0 "$MASTER_PID" 2>/dev/null; do
  if [ $INTERRUPTED -eq 1 ]; then
    echo
    echo "== Ctrl-C: completing the rounds under way and stopping"
    break
  fi
  sleep 0.2
done
MASTER_STATUS=0
if [ $INTERRUPTED -eq 1 ]; then
  stop_children
else
  wait "$MASTER_PID" || MASTER_STATUS=$?
  # Let the station take the last rounds, then stop it.
  sleep 2
  stop_children
fi
echo

summary() {
  totals=$(log_text | grep "共收到" | tail -1 | sed 's/.*RcvController://')
  echo "== summary"
  echo "   program directory: $DEMO_DIR"
  echo "   tables:            $DEMO_DIR/data"
  for f in "$DEMO_DIR"/Log/*.Log; do echo "   log:               $f (GBK)"; done
  echo "   station messages:  $DEMO_DIR/station.err"
  echo "   stand-in:          $DEMO_DIR/master.log, truth in $DEMO_DIR/truth"
  echo "   station totals:    ${totals:-(no totals: the station did not stop cleanly)}"
  sed -n 's/^  channel 2000011: /   sent (primary):    /p; s/^  rounds: /   rounds sent:       /p' "$DEMO_DIR/master.log"
  echo "   tables against the truth (records per table):"
  compare_status=0
  "$MASTER" --compare "$DEMO_DIR/truth" "$DEMO_DIR/data" >"$DEMO_DIR/compare.txt" 2>&1 || compare_status=$?
  sed 's/^/     /' "$DEMO_DIR/compare.txt"
  if [ $compare_status -eq 0 ]; then
    echo "   result: every table equals what the master station sent"
    return 0
  fi
  echo "   result: the tables differ from the truth (see above)"
  return 1
}
status=0
summary || status=1
[ $MASTER_STATUS -ne 0 ] && status=1
exit $status
