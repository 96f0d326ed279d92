#!/usr/bin/env bash
# The real program under Xvfb, clicked with xdotool, against varnholt-sim:
# killed with SIGKILL mid-run, closed mid-run, sent SIGTERM or SIGHUP mid-run,
# and sent SIGTERM in the supply's start-up pause.
# usage: process_e2e.sh BUILD_DIR kill|close|term|hup|pause   (run under xvfb-run)
set -euo pipefail
# The program must open a real window on the Xvfb display.
unset QT_QPA_PLATFORM
build=$1
case=$2
work=$(mktemp -d /tmp/varnholt-e2e-XXXXXX)
cleanup() {
    kill "${app:-}" "${sim:-}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- transcript"; tail -20 "$work/sim.txt" || true; exit 1; }

"$build/varnholt-sim" --dir "$work" --sample-time 0 --power-off 0 --move-ms 100 \
    --transcript "$work/sim.txt" > "$work/sim.out" &
sim=$!
for _ in $(seq 100); do grep -q READY "$work/sim.out" 2>/dev/null && break; sleep 0.05; done

(cd "$work" && exec "$build/varnholt") > "$work/app.out" 2>&1 &
app=$!
if [[ $case == pause ]]; then
    # SIGTERM inside the 200 ms the supply is given after SYST:REM.
    for _ in $(seq 4000); do grep -q 'SYST:REM' "$work/sim.txt" 2>/dev/null && break; done
    kill -TERM "$app"
    for _ in $(seq 40); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$app" 2>/dev/null && fail "still running 2 s after SIGTERM"
    wait "$app" || fail "exit status $?"
    sleep 0.3
    grep -q 'supply  < SYST:REM' "$work/sim.txt" || fail "SYST:REM never sent"
    grep -q 'RST' "$work/sim.txt" && fail "a command was sent after SIGTERM"
    echo "pause: $(grep -c ' < ' "$work/sim.txt") line(s) on the wire, the last SYST:REM"
    echo PASS
    exit 0
fi
window=$(timeout 20 xdotool search --sync --name '^Varnholt( |$)' | head -1) || true
[[ -n $window ]] || fail 'no window appeared'
for _ in $(seq 100); do grep -q "APPL" "$work/sim.txt" 2>/dev/null && break; sleep 0.05; done
sleep 0.5
xdotool mousemove --window "$window" 420 256 click 1   # Start Cycle Test

rows() { grep -c $'^[0-9]*\t' "$work/cycle_log1.txt" 2>/dev/null || true; }
for _ in $(seq 200); do [[ $(rows) -ge 3 ]] && break; sleep 0.05; done
[[ $(rows) -ge 3 ]] || fail "no rows written"

if [[ $case == kill ]]; then
    kill -9 "$app"
    wait "$app" 2>/dev/null || true
    log="$work/cycle_log1.txt"
    [[ $(tail -c 2 "$log" | od -An -c | tr -d ' ') == '\r\n' ]] || fail "last row cut short"
    # Cycles finished before the kill: power-offs the supply answered, less
    # the preparation's; the very last may have been cut before its row.
    offs=$(grep -c 'supply  < OUTP OFF' "$work/sim.txt")
    n=$(rows)
    (( n >= offs - 2 && n <= offs - 1 )) || fail "$n rows for $offs power-offs"
    grep -qv $'\tSUCCESS\t' <(tail -n +5 "$log" | tr -d '\r') && fail "a row is not a SUCCESS"
    # Its record says the run started and never ended; no temporary copy left.
    python3 -c 'import json, sys; r = json.load(open(sys.argv[1]));
assert r["log"] == "cycle_log1.txt" and r["ended"] is None and r["ended_utc"] is None, r' \
        "$work/cycle_log1-run.json" || fail "the record after kill -9 is not a started run's"
    ls -a "$work" | grep -q '\.tmp$' && fail "a temporary record was left"
    echo "kill -9: $n rows on disk, $offs power-offs on the wire, the record's ended null"
else
    # Lock files for the two devices, where a Qt build keeps them (Debian's Qt
    # 6.4 keeps none and locks the tty itself).
    # Only this run's: a concurrent kill -9 case leaves its own behind.
    tag=$(basename "$work")
    locks() { ls /var/lock/LCK..* /run/lock/LCK..* /tmp/LCK..* 2>/dev/null | grep -F "$tag" |
                  sort -u || true; }
    before=$(locks)
    if [[ $case == term ]]; then
        kill -TERM "$app"
    elif [[ $case == hup ]]; then
        kill -HUP "$app"
    else
        "$build/wm_close" "$window"
    fi
    closed=$(date +%s%N)
    for _ in $(seq 40); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$app" 2>/dev/null && fail "still running 2 s after the close"
    ended_ms=$(( ($(date +%s%N) - closed) / 1000000 ))
    wait "$app" || fail "exit status $?"
    lines=$(grep -c ' < ' "$work/sim.txt")
    sleep 1
    [[ $(grep -c ' < ' "$work/sim.txt") == "$lines" ]] || fail "sent after the close"
    grep -q FAILURE "$work/cycle_log1.txt" && fail "a FAILURE row after a close"
    [[ $(tail -c 2 "$work/cycle_log1.txt" | od -An -c | tr -d ' ') == '\r\n' ]] || fail "cut row"
    [[ -z $(locks) ]] || fail "lock files left behind: $(locks)"
    # How it ended, in its record.
    case $case in term | hup) how=signal ;; *) how=closed ;; esac
    python3 -c 'import json, sys; r = json.load(open(sys.argv[1]));
assert r["ended"] == sys.argv[2] and r["ended_utc"] and r["last_count"] >= 3, r' \
        "$work/cycle_log1-run.json" "$how" || fail "the record does not say the run ended ($how)"
    echo "lock files while running: $(echo $before | wc -w), after: 0"
    echo "$case: program ended ${ended_ms} ms after the request with $(rows) rows"
    (( ended_ms < 1000 )) || fail "took ${ended_ms} ms"
fi
echo PASS
