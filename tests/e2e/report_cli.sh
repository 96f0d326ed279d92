#!/usr/bin/env bash
# varnholt-report as a user runs it: exit statuses, the JSON a JSON reader
# takes, the table, the PDF and the chart images, without a display.
# usage: report_cli.sh BUILD_DIR
set -euo pipefail
unset DISPLAY QT_QPA_PLATFORM
report=$1/varnholt-report
work=$(mktemp -d /tmp/varnholt-report-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$work/bench-1" "$work/bench-2" "$work/empty"
python3 "$(dirname "$0")/../../bench/make_log.py" "$work/bench-1" 3000
printf 'Shutter Cycle Test\r\nStarted on 12/8/2026 at 3:07:09 PM\r\n\r\nCount\tStatus\tTime\tError\r\n1\tSUCCESS\t3:07:14 PM\tNONE\r\n2\tFAILURE\t3:07:31 PM\tE2\xff\r\r\n' \
    > "$work/bench-2/cycle_log4.txt"
echo notes > "$work/bench-2/notes.txt"

status=0; "$report" --bogus > /dev/null 2> "$work/err" || status=$?
[[ $status == 2 ]] || fail "a bad option gave exit status $status"
grep -q "is not an option of varnholt-report" "$work/err" || fail "no sentence for a bad option"
status=0; "$report" "$work/empty" > /dev/null || status=$?
[[ $status == 1 ]] || fail "nothing to report gave exit status $status"

"$report" --json "$work/bench-1" "$work/bench-2" "$work/missing" > "$work/out.json"
python3 - "$work/out.json" <<'PY' || fail "the JSON is not as defined"
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
runs = doc["runs"]
assert [r["file"] for r in runs] == ["powercut_log1.txt", "cycle_log4.txt"], runs
assert runs[0]["cycles"] == 3000 and runs[0]["ended_by_failure"] is True
assert runs[0]["open_ms"]["median"] > 0
assert runs[1]["failure_modes"][0]["error"] == "E2\u00ff"
assert doc["total"]["cycles"] == 3002
assert len(doc["problems"]) == 1 and "missing" in doc["problems"][0]["problem"]
PY
"$report" "$work/bench-1" "$work/bench-2" > "$work/table.txt"
grep -q "^All folders: 2 runs, 3002 cycles" "$work/table.txt" || fail "no total over all folders"
"$report" --pdf "$work/out.pdf" --png "$work/png" "$work/bench-1" > /dev/null
[[ $(head -c 4 "$work/out.pdf") == %PDF ]] || fail "no PDF written"
[[ $(ls "$work/png" | wc -l) == 3 ]] || fail "not three chart images: $(ls "$work/png")"
file "$work/png/powercut_log1-cycle-time.png" | grep -q "PNG image data, 1200 x 600" || fail "bad PNG"
echo "PDF $(stat -c %s "$work/out.pdf") bytes, $(ls "$work/png" | tr '\n' ' ')"
echo PASS
