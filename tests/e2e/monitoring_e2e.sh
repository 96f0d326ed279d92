#!/usr/bin/env bash
# The real program against varnholt-sim and Debian's mosquitto on a free port
# of 127.0.0.1, with a configuration of its own (the broker is stopped by its
# PID). Cases:
#   rows      the rows on /rows are the log's rows; the retained status
#             follows the run and reads offline after a clean end; no
#             descriptor from 3 up lacks close-on-exec
#   kill      kill -9 of the program: the Last Will marks it offline
#   broker    the broker stopped mid-run and started again 10 s later: the
#             log grows meanwhile and every row arrives once after
#   tls       TLS with a CA made here; a wrong CA is refused with a sentence
#             while the test runs on
#   password  a wrong password is refused with a sentence while the test
#             runs on, and the password shows nowhere
#   notify    the notify command gets its call, is ended after 10 s without
#             delaying the next rows, and is held to once a minute
#   flap      a broker that closes each connection after 1 s: reconnects
#             back off, and each cause is told once
#   drop      a broker whose connections hang (a firewall's DROP): "no
#             answer" after 10 s, and SIGTERM ends the program within 1 s
#   noack     a broker that acknowledges nothing: no more than 20 messages
#             are handed over, the rest wait in the bounded queue (of 4
#             here), whose dropped count the real broker then sees
# usage: monitoring_e2e.sh BUILD_DIR CASE   (run under xvfb-run)
set -euo pipefail
unset QT_QPA_PLATFORM
build=$(cd "$1" && pwd)
case=$2
work=$(mktemp -d /tmp/varnholt-mqtt-XXXXXX)
chmod 755 "$work"
topic="varnholt/e2e-$case"
cleanup() {
    kill -9 "${app:-}" 2>/dev/null || true
    kill "${sim:-}" "${broker:-}" "${sub:-}" 2>/dev/null || true
    # The notify command names its calls by its PID, which leads its own
    # process group: end just those.
    for call in "$work"/calls/*; do
        [[ -e $call ]] && kill -9 -- "-${call##*/}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    echo "--- program"; cat "$work/app.out" 2>/dev/null || true
    echo "--- broker"; tail -5 "$work/broker.log" 2>/dev/null || true
    exit 1
}
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

start_broker() {  # extra configuration lines on stdin
    { echo "listener $port 127.0.0.1"; echo "user root"; cat; } > "$work/broker.conf"
    mosquitto -c "$work/broker.conf" >> "$work/broker.log" 2>&1 &
    broker=$!
    for _ in $(seq 50); do
        (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null && return
        sleep 0.1
    done
    fail "the broker did not start"
}
stop_broker() { kill "$broker"; wait "$broker" 2>/dev/null || true; broker=""; }

start_bench() {  # [Monitoring] lines on stdin
    "$build/varnholt-sim" --dir "$work/bench" --sample-time 0 --power-off 0 --move-ms 100 \
        --transcript "$work/sim.txt" > "$work/sim.out" &
    sim=$!
    for _ in $(seq 100); do grep -q READY "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
    { echo "[Monitoring]"; cat; } >> "$work/bench/kestrane.ini"
    (cd "$work/bench" && exec env ${app_env:-} "$build/varnholt") > "$work/app.out" 2>&1 &
    app=$!
    window=$(timeout 20 xdotool search --sync --name '^Varnholt( |$)' | head -1) || true
    [[ -n $window ]] || fail 'no window appeared'
    for _ in $(seq 100); do grep -q "APPL" "$work/sim.txt" 2>/dev/null && break; sleep 0.05; done
    sleep 0.5
}
click_test() { xdotool mousemove --window "$window" 420 256 click 1; }
inheritable() {  # the program's descriptors from 3 up without close-on-exec
    local info fd flags
    for info in /proc/"$app"/fdinfo/*; do
        fd=${info##*/}
        ((fd >= 3)) || continue
        flags=$(awk '/^flags:/ {print $2}' "$info" 2> /dev/null) || continue
        if [[ -n $flags ]] && (((8#$flags & 8#2000000) == 0)); then
            echo "$fd: $(readlink "/proc/$app/fd/$fd")"
        fi
    done
}
rows() { grep -c $'^[0-9]*\t' "$work/bench/$1" 2>/dev/null || true; }
wait_rows() {  # log count
    for _ in $(seq 300); do [[ $(rows "$1") -ge $2 ]] && return; sleep 0.05; done
    fail "$1 did not reach $2 rows"
}
retained() {
    mosquitto_sub -h 127.0.0.1 -p "$port" ${sub_options:-} -t "$topic/status" -C 1 -W 2 2>/dev/null || true
}
# The rows received equal the log's rows, each once (count, status, error).
# QoS 1 is at-least-once: a row in flight when the broker stopped (its
# acknowledgement lost) may come twice; give its Count as the third argument.
same_rows() {  # log received-file [count in flight]
    python3 - "$work/bench/$1" "$2" "${3:-0}" <<'PY' || fail "the rows on /rows are not the log's rows"
import json, sys
log = [l.rstrip("\r") for l in open(sys.argv[1], encoding="latin-1").read().split("\n")[4:]]
want = [l.split("\t") for l in log if l.count("\t") == 3]
got = [json.loads(l.split(" ", 1)[1]) for l in open(sys.argv[2]) if "/rows " in l]
got = [g for g in got if g["log"] == sys.argv[1].rsplit("/", 1)[1]]
pairs = [(g["count"], g["status"], g["error"]) for g in got]
in_flight = int(sys.argv[3])
twice = sorted({p for p in pairs if pairs.count(p) > 1})
assert all(p[0] in (in_flight - 1, in_flight) and pairs.count(p) == 2 for p in twice), twice
unique = sorted(set(pairs))
expect = [(int(c), s, e.rstrip("\r")) for c, s, _t, e in want]
assert unique == expect, (len(unique), len(expect), unique[:3], expect[:3])
print(f"{len(unique)} rows on /rows equal to the log's, each once"
      + (f" but row {twice[0][0]}, in flight when the broker stopped, twice" if twice else ""))
PY
}

mkdir -p "$work/bench"
case $case in
rows)
    app_env="VARNHOLT_MQTT_HEARTBEAT_MS=1000"
    start_broker <<< "allow_anonymous true"
    mosquitto_sub -h 127.0.0.1 -p "$port" -v -t "$topic/#" > "$work/sub.txt" &
    sub=$!
    start_bench <<< $'MqttHost=127.0.0.1\nMqttPort='"$port"$'\nMqttTopic='"$topic"$'\n[Diagnostics]\nTraceFile=trace.txt'
    retained | grep -q '"state": "idle", "log": null, "unit": "", "lot": "", "cycle": 0, "failures": 0' ||
        fail "no idle status at start-up: $(retained)"
    click_test
    wait_rows cycle_log1.txt 4
    retained | grep -q '"state": "cycle", "log": "cycle_log1.txt"' || fail "no cycle status: $(retained)"
    # Connected, tracing and writing a log: nothing from descriptor 3 up would
    # pass to a program it starts.
    inherited=$(inheritable)
    [[ -z $inherited ]] || fail "descriptors without close-on-exec: $inherited"
    click_test  # stop
    sleep 1.5
    n=$(rows cycle_log1.txt)
    retained | grep -q "\"state\": \"idle\", \"log\": \"cycle_log1.txt\", \"unit\": \"\", \"lot\": \"\", \"cycle\": $n," ||
        fail "the status after the run: $(retained)"
    grep -q '/events {"event": "ended", "log": "cycle_log1.txt", "text": "Test stopped by user"}' \
        "$work/sub.txt" || fail "no ended event"
    same_rows cycle_log1.txt "$work/sub.txt"
    # For a lab's board: the bench by its folder's name and its PC, how its
    # last run ended, and a heartbeat while nothing happens.
    status=$(retained)
    [[ $status == *'"bench": "bench", "host": "'"$(hostname)"'", "updated": "'*'Z", "last_end": "stopped"}' ]] ||
        fail "the status lacks the board's fields: $status"
    [[ $(xdotool getwindowname "$window") == "Varnholt — bench" ]] ||
        fail "the title does not name the bench: $(xdotool getwindowname "$window")"
    sleep 2.2
    [[ $(retained) != "$status" ]] || fail "no heartbeat in 2 s with a heartbeat of 1 s: $status"
    kill -TERM "$app"; wait "$app" || fail "exit status $?"
    offline='{"state": "offline", "bench": "bench", "host": "'"$(hostname)"'"}'
    [[ $(retained) == "$offline" ]] || fail "not offline after a clean end: $(retained)"
    grep -q "Monitoring: connected to the MQTT broker 127.0.0.1:$port." "$work/app.out" ||
        fail "no sentence on standard error"
    echo "status: idle, cycle, idle with $n cycles, offline after the end"
    ;;
kill)
    start_broker <<< "allow_anonymous true"
    start_bench <<< $'MqttHost=127.0.0.1\nMqttPort='"$port"$'\nMqttTopic='"$topic"
    click_test
    wait_rows cycle_log1.txt 2
    kill -9 "$app"
    killed=$(date +%s)
    # The Last Will names the bench, so a board knows which went away.
    offline='{"state": "offline", "bench": "bench", "host": "'"$(hostname)"'"}'
    for _ in $(seq 40); do
        [[ $(retained) == "$offline" ]] && break
        sleep 1
    done
    [[ $(retained) == "$offline" ]] || fail "not offline 40 s after kill -9: $(retained)"
    echo "kill -9: the retained status read offline after $(( $(date +%s) - killed )) s"
    ;;
broker)
    sub_options="-c -i varnholt-e2e-sub -q 1"
    start_broker <<< $'allow_anonymous true\npersistence true\npersistence_location '"$work/"
    mosquitto_sub -h 127.0.0.1 -p "$port" $sub_options -v -t "$topic/rows" > "$work/sub.txt" &
    sub=$!
    sleep 0.5
    start_bench <<< $'MqttHost=127.0.0.1\nMqttPort='"$port"$'\nMqttTopic='"$topic"
    click_test
    wait_rows cycle_log1.txt 3
    stop_broker
    down=$(rows cycle_log1.txt)
    sleep 10
    during=$(rows cycle_log1.txt)
    (( during > down )) || fail "the log did not grow while the broker was away ($down, $during)"
    grep -q "Monitoring: lost the MQTT broker 127.0.0.1:$port" "$work/app.out" ||
        fail "no sentence when the broker went away"
    start_broker <<< $'allow_anonymous true\npersistence true\npersistence_location '"$work/"
    for _ in $(seq 60); do
        grep -q "Monitoring: connected" <(tail -1 "$work/app.out") && break
        sleep 0.5
    done
    sleep 2
    click_test  # stop
    sleep 3
    same_rows cycle_log1.txt "$work/sub.txt" "$down"
    [[ $(grep -c "Monitoring: lost\|Monitoring: cannot" "$work/app.out") -le 2 ]] ||
        fail "the trouble was told more than once per change: $(cat "$work/app.out")"
    echo "broker away 10 s: the log grew from $down to $during rows meanwhile, $(rows cycle_log1.txt) in all"
    ;;
tls)
    cd "$work"
    for ca in ca wrong; do
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Varnholt test $ca" \
            -keyout $ca.key -out $ca.pem 2> /dev/null
    done
    openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr 2> /dev/null
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' > san.txt
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile san.txt -out server.pem 2> /dev/null
    chmod 644 ./*.key
    sub_options="--cafile $work/ca.pem"
    start_broker <<< $'allow_anonymous true\ncafile '"$work/ca.pem"$'\ncertfile '"$work/server.pem"$'\nkeyfile '"$work/server.key"
    mosquitto_sub -h 127.0.0.1 -p "$port" $sub_options -v -t "$topic/#" > "$work/sub.txt" &
    sub=$!
    cp ca.pem bench/
    start_bench <<< $'MqttHost=localhost\nMqttPort='"$port"$'\nMqttTopic='"$topic"$'\nMqttCaFile=ca.pem'
    click_test
    wait_rows cycle_log1.txt 3
    click_test
    sleep 1.5
    same_rows cycle_log1.txt "$work/sub.txt"
    kill -TERM "$app"; wait "$app" || true
    kill "$sim"; wait "$sim" 2>/dev/null || true
    rm -rf bench; mkdir bench; cp wrong.pem bench/
    start_bench <<< $'MqttHost=localhost\nMqttPort='"$port"$'\nMqttTopic='"$topic"$'\nMqttCaFile=wrong.pem'
    click_test
    wait_rows cycle_log1.txt 4
    grep -q "Monitoring: cannot publish to the MQTT broker localhost:$port: certificate not trusted" \
        "$work/app.out" || fail "no sentence for a certificate not trusted"
    echo "TLS: rows arrive with the right CA; with a wrong one: $(grep -m1 'cannot publish' "$work/app.out")"
    ;;
password)
    mosquitto_passwd -c -b "$work/passwords" bench3 right-pw-123
    chmod 644 "$work/passwords"
    start_broker <<< $'allow_anonymous false\npassword_file '"$work/passwords"
    printf 'bench3\nwrong-pw-456\n' > "$work/bench/mqtt.txt"
    chmod 600 "$work/bench/mqtt.txt"
    start_bench <<< $'MqttHost=127.0.0.1\nMqttPort='"$port"$'\nMqttTopic='"$topic"$'\nMqttCredentials=mqtt.txt'
    click_test
    wait_rows cycle_log1.txt 4
    grep -q "Monitoring: cannot publish to the MQTT broker 127.0.0.1:$port: user name or password refused" \
        "$work/app.out" || fail "no sentence for a refused password"
    grep -rq "wrong-pw-456" "$work/app.out" "$work/sim.txt" && fail "the password was shown"
    echo "password: $(grep -m1 'cannot publish' "$work/app.out")"
    ;;
notify)
    mkdir -p "$work/calls"
    printf '#!/bin/sh\nfor a in "$@"; do printf "%%s|" "$a"; done > %s/calls/$$\nexec sleep 60\n' \
        "$work" > "$work/notify.sh"
    chmod 755 "$work/notify.sh"
    start_bench <<< "NotifyCommand=$work/notify.sh"
    click_test
    wait_rows cycle_log1.txt 2
    click_test  # stop: ended, and the command sleeps
    sleep 1
    n=$(rows cycle_log1.txt)
    [[ $(cat "$work"/calls/*) == "ended|cycle_log1.txt|$n|Test stopped by user|" ]] ||
        fail "the call was: $(cat "$work"/calls/*)"
    click_test  # a new run goes on while the command sleeps
    started=$(date +%s)
    wait_rows cycle_log2.txt 3
    # Three cycles take about 4 s here; the command sleeps for 60.
    (( $(date +%s) - started < 12 )) || fail "the rows waited for the notify command"
    sleep 10
    call=$(ls "$work/calls")
    kill -0 "$call" 2>/dev/null && fail "the notify command (PID $call) was not ended after 10 s"
    click_test  # stop again within the minute: held
    sleep 1
    [[ $(ls "$work/calls" | wc -l) == 1 ]] || fail "called twice within a minute"
    grep -q "NotifyCommand $work/notify.sh ran longer than 10 s and was ended." "$work/app.out" ||
        fail "no sentence for the long run"
    echo "notify: one call ($(cat "$work"/calls/*)), ended after 10 s, the second held"
    ;;
flap | drop | noack)
    [[ $case == noack ]] && app_env=VARNHOLT_MQTT_QUEUE=4
    python3 "$(dirname "$0")/fake_broker.py" "$port" "$case" > "$work/fake.txt" 2>&1 &
    broker=$!
    for _ in $(seq 50); do grep -q ready "$work/fake.txt" 2>/dev/null && break; sleep 0.1; done
    start_bench <<< $'MqttHost=127.0.0.1\nMqttPort='"$port"$'\nMqttTopic='"$topic"
    click_test
    if [[ $case == flap ]]; then
        sleep 20
        accepted=$(grep -c accepted "$work/fake.txt" || true)
        told=$(grep -c 'varnholt: Monitoring' "$work/app.out" || true)
        # Backoff 1, 2, 4, 8 s after connections of 1 s: 5 in 20 s at most.
        (( accepted >= 2 && accepted <= 6 )) || fail "$accepted connections in 20 s"
        (( told <= 3 )) || fail "$told sentences on standard error for one repeated cause"
        echo "flap: $accepted connections and $told sentences in 20 s"
    elif [[ $case == drop ]]; then
        for _ in $(seq 150); do grep -q "no answer from 127.0.0.1:$port" "$work/app.out" && break; sleep 0.1; done
        grep -q "no answer from 127.0.0.1:$port" "$work/app.out" || fail "no sentence after 15 s"
        wait_rows cycle_log1.txt 2
        asked=$(date +%s%N)
        kill -TERM "$app"
        for _ in $(seq 40); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
        kill -0 "$app" 2>/dev/null && fail "still running 2 s after SIGTERM"
        took=$(( ($(date +%s%N) - asked) / 1000000 ))
        (( took < 1000 )) || fail "SIGTERM took $took ms"
        echo "drop: told \"$(grep -o 'no answer from [^;]*' "$work/app.out" | head -1)\", ended $took ms after SIGTERM"
    else
        wait_rows cycle_log1.txt 12  # 1 + 2 messages a row: more than 20
        published=$(grep -c publish "$work/fake.txt" || true)
        (( published == 20 )) || fail "$published messages handed over without acknowledgement"
        # The real broker in its place: the queue overflowed, and says so.
        stop_broker
        start_broker <<< "allow_anonymous true"
        for _ in $(seq 100); do retained | grep -q '"dropped": ' && break; sleep 0.1; done
        dropped=$(retained | grep -o '"dropped": [0-9]*' || true)
        [[ -n $dropped ]] || fail "no dropped count after the queue overflowed: $(retained)"
        echo "noack: $published messages handed over unacknowledged while the log reached $(rows cycle_log1.txt) rows; then $dropped"
    fi
    ;;
esac
echo PASS
