#!/bin/sh
# Load run: the station (tavrel --headless) driven by tavrel-master over
# loopback multicast with NQHQ.DBF rounds back to back, encoding 0x25
# (Adler-32, RC6, zlib), at a chosen packet rate. Reports whether the station
# kept up (lost 0, no drain of its queue, every table equal to the truth),
# its CPU use and peak memory, and the latency from each round's last
# datagram to the round on disk (p50, p99).
#
#   bench/load_run.sh [--securities N] [--rates "R1 R2 ..."] [--seconds S]
#                     [--build DIR] [--out DIR]
#
# With several rates they are tried in order until one fails; the last rate
# that passed is the sustained rate. Rates are packets per second on each
# channel (the station receives both channels, twice as many datagrams).
# Defaults: 8000 securities, rates "5000 10000 15000 20000 25000 30000",
# 60 seconds, the build in build/ (release), results under
# ${TMPDIR:-/tmp}/tavrel-load.
set -e
cd "$(dirname "$0")/.."
ROOT=$(pwd)

SECURITIES=8000
RATES="5000 10000 15000 20000 25000 30000"
DURATION=60
BUILD="$ROOT/build"
OUT="${TMPDIR:-/tmp}/tavrel-load"
while [ $# -gt 0 ]; do
  case "$1" in
    --securities) SECURITIES="$2"; shift 2 ;;
    --rates) RATES="$2"; shift 2 ;;
    --seconds) DURATION="$2"; shift 2 ;;
    --build) BUILD="$2"; shift 2 ;;
    --out) OUT="$2"; shift 2 ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "load_run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j 2 --target tavrel tavrel-master tavrel-roundwatch >/dev/null
TAVREL="$BUILD/shell/tavrel"
MASTER="$BUILD/mastersim/tavrel-master"
WATCH="$BUILD/mastersim/tavrel-roundwatch"
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
CLK=$(getconf CLK_TCK)

cpu_ticks() {  # utime + stime of a process, in clock ticks
  awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0
}
peak_kb() {
  awk '/^VmHWM:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0
}
log_text() {
  cat "$1"/Log/*.Log 2>/dev/null | iconv -f GBK -t UTF-8 2>/dev/null || true
}

# One run at one rate; prints the result line and returns 0 when the station
# kept up.
run_one() {
  rate=$1
  dir="$OUT/n$SECURITIES-r$rate"
  rm -rf "$dir"
  mkdir -p "$dir/data"
  port1=$((39400 + (rate / 1000) % 50 * 2))
  port2=$((port1 + 1))
  cat > "$dir/Tavrel.cfg" <<EOF
[CONFIG]
CfgVersion=V20160921
usrId=
AuthID=LOAD0000000001
rcv_Mcast=0
rcvZSXX=0
rcvFGKCJXX=0
rcvFGKSBXX=0
mcRcvPort1=$port1
mcRcvPort2=$port2
mcRcvAddr1=239.31.0.1
mcRcvAddr2=239.31.0.2
enableQuerySupport=0
queryLsnAddr=0
queryLsnPort=0
dwFlag=1048576
dwKeepFileDays=0
mcNetCard1=127.0.0.1
mcNetCard2=127.0.0.1
szDefaultDataPath=$dir/data
szLogPath=$dir/Log
NQHQ_File=$dir/data/NQHQ.DBF
NQXYXX_File=$dir/data/NQXYXX.DBF
NQZSXX_File=
NQXX_File=$dir/data/NQXX.DBF
NQFGKSBXX_File=
NQFGKCJXX_File=
szTYBulletinPath=$dir/bulletin
szTYOpenFlagFile=$dir/data/open.flag
[ServerInfoNUM]
Servers0=0
Servers1=0
EOF
  # The drain of a full queue is logged at level 200; keep it in the file.
  printf 'fileLogLevel = 200\nviewLogLevel = 500\ncheckTraffic = 1\n' > "$dir/runParams.Cfg"

  setsid "$TAVREL" --headless --dir "$dir" >"$dir/station.out" 2>&1 &
  station=$!
  n=0
  until log_text "$dir" | grep -q "通信模块启动成功"; do
    n=$((n + 1))
    if [ $n -gt 200 ] || ! kill -0 $station 2>/dev/null; then
      echo "load_run.sh: the station did not start" >&2
      cat "$dir/station.out" >&2
      kill -TERM $station 2>/dev/null || true
      return 2
    fi
    sleep 0.1
  done
  "$WATCH" --watch "$dir/data/NQHQ.DBF" --out "$dir/seen.log" &
  watcher=$!

  t0=$(date +%s.%N)
  c0=$(cpu_ticks $station)
  "$MASTER" --securities "$SECURITIES" --seed 1 --group1 239.31.0.1 --port1 $port1 \
    --group2 239.31.0.2 --port2 $port2 --encoding 0x25 --replay-rounds 8 --round-interval 0 \
    --rate "$rate" --duration "$DURATION" --start-time 100000 --day-speed 1 \
    --info-interval 30 --base-interval 30 --status-interval 5 --progress 10 \
    --truth "$dir/truth" --round-log "$dir/sent.log" >"$dir/master.log" 2>&1 &
  master=$!
  mc0=$(cpu_ticks $master)
  mc1=$mc0
  while kill -0 $master 2>/dev/null; do
    mc1=$(cpu_ticks $master)
    sleep 1
  done
  wait $master || true
  t1=$(date +%s.%N)
  c1=$(cpu_ticks $station)
  peak=$(peak_kb $station)
  # Let the station take what is still queued, then compare and stop.
  sleep 3
  equal=yes
  "$MASTER" --compare "$dir/truth" "$dir/data" >"$dir/compare.txt" 2>&1 || equal=no
  kill -TERM $station 2>/dev/null || true
  wait $station 2>/dev/null || true
  kill -TERM $watcher 2>/dev/null || true
  wait $watcher 2>/dev/null || true

  totals=$(log_text "$dir" | grep "共收到" | tail -1)
  lost=$(echo "$totals" | sed -n 's/.*可统计的丢失包 \([0-9]*\) 个.*/\1/p')
  errors=$(echo "$totals" | sed -n 's/.*其中错包 \([0-9]*\) 个.*/\1/p')
  drains=$(log_text "$dir" | grep -c "数据队列满" || true)
  sent=$(sed -n 's/^  channel 2000011: \([0-9]*\) datagrams.*/\1/p' "$dir/master.log")
  secs=$(sed -n 's/^tavrel-master: finished after \([0-9.]*\) s.*/\1/p' "$dir/master.log")
  latency=$("$WATCH" --analyse "$dir/sent.log" "$dir/seen.log" --skip 1 | tail -1 | sed 's/.*disk: //')
  rounds=$("$WATCH" --analyse "$dir/sent.log" "$dir/seen.log" --skip 1 | head -1)
  awk -v s="$sent" -v d="$secs" -v c0="$c0" -v c1="$c1" -v mc0="$mc0" -v mc1="$mc1" -v clk="$CLK" \
      -v t0="$t0" -v t1="$t1" -v peak="$peak" -v lost="${lost:-?}" -v err="${errors:-?}" \
      -v drains="$drains" -v eq="$equal" -v n="$SECURITIES" -v r="$rate" -v lat="$latency" \
      -v rounds="$rounds" 'BEGIN {
    printf "securities %d, target %d/s: sent %.0f packets/s per channel for %.0f s; lost %s, errors %s, drains %d, tables equal %s\n", n, r, s / d, d, lost, err, drains, eq
    printf "  station CPU %.0f %% of one core, peak memory %.1f MB; tavrel-master CPU %.0f %%\n", (c1 - c0) / clk / (t1 - t0) * 100, peak / 1024, (mc1 - mc0) / clk / (t1 - t0) * 100
    printf "  %s\n  %s\n", rounds, lat
  }' | tee "$dir/result.txt"
  [ "${lost:-1}" = 0 ] && [ "$drains" = 0 ] && [ "$equal" = yes ]
}

best=""
for rate in $RATES; do
  if run_one "$rate"; then
    best=$rate
  else
    echo "  -> not sustained at $rate/s (details in $OUT/n$SECURITIES-r$rate)"
    break
  fi
done
if [ -n "$best" ]; then
  echo "highest rate sustained for $DURATION s with $SECURITIES securities: $best packets/s per channel"
else
  echo "no rate sustained for $DURATION s with $SECURITIES securities"
fi
