#!/usr/bin/env bash
# The lab board against Debian's mosquitto on a free port and three real
# benches on varnholt-sim (under xvfb-run): headless Chromium sees the three
# running; kill -9 of one shows it offline within 5 s and runs the alert
# command once; a fake bench named with markup shows as text; /metrics
# passes promtool; a request behind 80 idle connections is answered; SIGTERM
# ends the board within 1 s. Everything is stopped by its PID.
# usage: board_e2e.sh BUILD_DIR
set -euo pipefail
unset QT_QPA_PLATFORM
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/varnholt-board-XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
    for p in "${apps[@]:-}"; do [[ -n $p ]] && kill -9 "$p" 2>/dev/null || true; done
    for p in "${pids[@]:-}"; do [[ -n $p ]] && kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    echo "--- board"; cat "$work/board.err" 2>/dev/null || true
    echo "--- alerts"; cat "$work/alerts.txt" 2>/dev/null || true
    exit 1
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port)
printf 'listener %s 127.0.0.1\nuser root\nallow_anonymous true\n' "$port" > "$work/broker.conf"
mosquitto -c "$work/broker.conf" > "$work/broker.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null && break; sleep 0.1; done

cat > "$work/alert" <<ALERT
#!/bin/sh
printf '%s|%s|%s|%s\n' "\$1" "\$2" "\$3" "\$4" >> "$work/alerts.txt"
ALERT
chmod +x "$work/alert"
"$build/varnholt-board" --broker "127.0.0.1:$port" --listen 127.0.0.1:0 \
    --alert-command "$work/alert" --folder "$work/bench1" > "$work/board.out" 2> "$work/board.err" &
board=$!
pids+=($board)
for _ in $(seq 100); do grep -q serving "$work/board.out" 2>/dev/null && break; sleep 0.05; done
url=$(sed -n 's/^varnholt-board: serving \(.*\)$/\1/p' "$work/board.out")
[[ -n $url ]] || fail "the board did not start"

apps=()
for i in 1 2 3; do
    dir="$work/bench$i"
    mkdir -p "$dir"
    "$build/varnholt-sim" --dir "$dir" --sample-time 0 --power-off 0 --move-ms 100 \
        --transcript "$work/sim$i.txt" > "$work/sim$i.out" &
    pids+=($!)
    for _ in $(seq 100); do grep -q READY "$work/sim$i.out" 2>/dev/null && break; sleep 0.05; done
    printf '[Monitoring]\nMqttHost=127.0.0.1\nMqttPort=%s\nMqttTopic=varnholt/e2e/bench-%s\nBenchName=bench-%s\n' \
        "$port" "$i" "$i" >> "$dir/kestrane.ini"
    (cd "$dir" && exec "$build/varnholt") > "$work/app$i.out" 2>&1 &
    apps+=($!)
    window=$(timeout 20 xdotool search --sync --name "^Varnholt — bench-$i\$" | head -1) || true
    [[ -n $window ]] || fail "no window for bench-$i"
    for _ in $(seq 100); do grep -q "APPL" "$work/sim$i.txt" 2>/dev/null && break; sleep 0.05; done
    sleep 0.5
    # The newest window is on top: the click starts its cycle test.
    xdotool mousemove --window "$window" 420 256 click 1
done

page() {
    timeout 30 chromium --headless --no-sandbox --disable-gpu --user-data-dir="$work/chromium" \
        --virtual-time-budget=2500 --dump-dom "$url" 2> /dev/null
}
running=0
for _ in $(seq 20); do
    running=$(page | grep -c 'class="tile running"' || true)
    ((running == 3)) && break
    sleep 0.5
done
((running == 3)) || fail "Chromium sees $running benches running, not 3: $(curl -s "${url}api/benches")"
echo "Chromium sees 3 benches running"
# The folder is read every 5 s.
for _ in $(seq 24); do
    lots=$(curl -sf "${url}api/lots") || fail "no /api/lots"
    python3 -c 'import json, sys; l = json.loads(sys.argv[1]); sys.exit(not (l and l[0]["units"] >= 1))' \
        "$lots" && break
    sleep 0.5
done
python3 -c 'import json, sys; l = json.loads(sys.argv[1]); assert l and l[0]["units"] >= 1, l' "$lots" ||
    fail "bench1's folder gives no lot on /api/lots: $lots"
echo "bench1's folder read: $(python3 -c 'import json, sys; l = json.loads(sys.argv[1]); print(len(l), "lot,", l[0]["units"], "unit")' "$lots")"
if [[ -n ${BOARD_SCREENSHOT:-} ]]; then  # for the README
    sleep 6
    chromium --headless --no-sandbox --disable-gpu --user-data-dir="$work/chromium" \
        --window-size=1280,900 --virtual-time-budget=2500 --screenshot="$BOARD_SCREENSHOT" "$url" 2> /dev/null
fi

kill -9 "${apps[1]}"
killed=$(date +%s.%N)
apps[1]=""
seen=""
for _ in $(seq 50); do
    if page | grep -A1 '<h2>bench-2 ' | grep -q 'class="state">offline since'; then
        seen=$(date +%s.%N)
        break
    fi
    sleep 0.1
done
[[ -n $seen ]] || fail "bench-2 not offline on the page 5 s after kill -9"
after=$(python3 -c "print(round($seen - $killed, 1))")
python3 -c "import sys; sys.exit(0 if $after <= 5 else 1)" || fail "offline only after $after s"
sleep 1.5
offline=$(grep -c '^offline|bench-2|' "$work/alerts.txt" || true)
((offline == 1)) || fail "the alert command ran $offline times with offline for bench-2"
grep -q "^offline|bench-1\|^offline|bench-3" "$work/alerts.txt" && fail "an alert for a bench that runs"
echo "kill -9: bench-2 offline on the page after $after s; the alert command ran once with offline"

mosquitto_pub -h 127.0.0.1 -p "$port" -t 'varnholt/fake/x/status' -m \
    '{"state": "idle", "bench": "<b>fake</b>", "host": "<script>alert(1)</script>", "unit": "<img src=x onerror=alert(1)>", "lot": "", "cycle": 1, "failures": 0}'
sleep 1.5
dom=$(page)
grep -q '&lt;img src=x onerror=alert(1)&gt;' <<< "$dom" || fail "the fake unit is not shown as text"
grep -q '<img src="x"\|<img src=x\|<b>fake' <<< "$dom" && fail "the fake bench's names became markup"
echo "a fake bench named with markup shows as text"

curl -sf "${url}metrics" > "$work/metrics.txt" || fail "no /metrics"
promtool check metrics < "$work/metrics.txt" || fail "promtool refused /metrics"
grep -q '^varnholt_bench_up{bench="bench-2",.*} 0$' "$work/metrics.txt" || fail "bench-2 not down in /metrics"
echo "/metrics passes promtool check metrics"

python3 - "${url}" <<'PY' || fail "a request behind 80 idle connections was not answered in 2 s"
import socket, sys, time, urllib.parse
u = urllib.parse.urlparse(sys.argv[1])
idle = [socket.create_connection((u.hostname, u.port)) for _ in range(80)]
for s in idle[:40]:
    s.send(b"GET / HTTP/1.1\r\nX-Slow: ")
start = time.time()
c = socket.create_connection((u.hostname, u.port), timeout=2)
c.send(b"GET /api/benches HTTP/1.1\r\nHost: board\r\n\r\n")
assert c.recv(64).startswith(b"HTTP/1.1 200"), "no answer"
print(f"a request behind 80 idle connections answered in {time.time() - start:.3f} s")
PY

start=$(date +%s.%N)
kill -TERM "$board"
wait "$board" || fail "the board's exit status $? after SIGTERM"
took=$(python3 -c "print(round($(date +%s.%N) - $start, 2))")
python3 -c "import sys; sys.exit(0 if $took < 1 else 1)" || fail "SIGTERM ended the board after $took s"
echo "SIGTERM ended the board in $took s"
echo PASS
