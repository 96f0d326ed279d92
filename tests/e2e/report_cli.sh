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
assert doc["totals"]["powercut"]["cycles"] == 3000 and doc["totals"]["cycle"]["cycles"] == 2
assert len(doc["problems"]) == 1 and "missing" in doc["problems"][0]["problem"]
PY
"$report" "$work/bench-1" "$work/bench-2" > "$work/table.txt"
# Each test kind apart: a power-cut cycle is no cycle-test cycle.
grep -q "^All folders, power cut test: 1 run, 3,000 cycles" "$work/table.txt" &&
    grep -q "^All folders, cycle test: 1 run, 2 cycles" "$work/table.txt" ||
    fail "no total of each kind over all folders"
grep -q "3,002" "$work/table.txt" && fail "the totals add power-cut cycles to cycle-test cycles"
"$report" --pdf "$work/out.pdf" --png "$work/png" "$work/bench-1" > /dev/null
[[ $(head -c 4 "$work/out.pdf") == %PDF ]] || fail "no PDF written"
[[ $(ls "$work/png" | wc -l) == 3 ]] || fail "not three chart images: $(ls "$work/png")"
file "$work/png/powercut_log1-cycle-time.png" | grep -q "PNG image data, 1200 x 600" || fail "bad PNG"
# Decoded whole by another reader, and not one flat colour.
[[ $(identify -format '%wx%h %k' "$work/png/powercut_log1-cycle-time.png") =~ ^1200x600\ [0-9]{2,} ]] ||
    fail "the PNG does not decode as a chart"
echo "PDF $(stat -c %s "$work/out.pdf") bytes, $(ls "$work/png" | tr '\n' ' ')"

# The worked lot: its units over their runs and its Weibull figures.
python3 "$(dirname "$0")/../../bench/make_lot.py" "$work/lot" example
"$report" --json "$work/lot" > "$work/lot.json"
python3 - "$work/lot.json" <<'PY' || fail "the lot's figures are not as worked"
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
units = {u["unit"]: u for u in doc["units"]}
assert units["SN-0003"]["cycles_to_failure"] == 31000 and len(units["SN-0003"]["runs"]) == 2
assert units["SN-0005"]["cycles_to_failure"] == 61000 and units["SN-0005"]["bench_faults"] == 1
assert units["SN-0008"]["failed"] is False and units["SN-0008"]["cycles"] == 15000
(lot,) = doc["lots"]
w = lot["weibull"]
near = lambda a, b: abs(a - b) <= abs(b) * 2e-4
assert (lot["lot"], lot["units"], lot["failures"], lot["suspensions"]) == ("L7", 8, 5, 3), lot
for got, want in [(w["beta"], 1.67742), (w["eta"], 59612.7), (w["beta_90"][0], 0.8262),
                  (w["beta_90"][1], 2.9089), (w["eta_90"][0], 38599), (w["eta_90"][1], 113509),
                  (w["b10"], 15584.9), (w["b10_lower_90"], 5959.8)]:
    assert near(got, want), (got, want)
assert lot["weibayes"]["beta_assumed"] == 2.0
PY
"$report" --pdf "$work/lot.pdf" --png "$work/lotpng" "$work/lot" > /dev/null
[[ -f $work/lotpng/lot-L7-cycle-weibull.png ]] || fail "no Weibull plot of the lot"
# Every field of the lot's JSON as the hand-written JSON of 1.3.1 gave it,
# byte for byte in its value; fields may only be added.
python3 - "$work/lot.json" "$(dirname "$0")/../data/lot_l7_report.json" "$work/lot" <<'PY' ||
import json, sys
new = json.load(open(sys.argv[1], encoding="utf-8"))
old = json.loads(open(sys.argv[2], encoding="utf-8").read().replace("@FOLDER@", sys.argv[3]))
def same(a, b, at):
    if isinstance(a, dict):
        for k in a:
            assert k in b, f"{at}/{k} is gone"
            same(a[k], b[k], f"{at}/{k}")
    elif isinstance(a, list):
        assert len(a) == len(b), f"{at}: {len(a)} items, now {len(b)}"
        for i, (x, y) in enumerate(zip(a, b)):
            same(x, y, f"{at}[{i}]")
    else:
        assert type(a) == type(b) and a == b, f"{at}: {a!r}, now {b!r}"
same(old, new, "")
assert [r["ended"] for r in new["runs"]][:3] == ["failure", "failure", "stopped"], new["runs"]
PY
    fail "the lot's JSON lost or changed a field"
# The PDF as a manager meets it: the summary first, with the lot's life in
# words and the plan's verdict; every unit of a 100-unit lot, its table
# continued over pages; each run's charts only when asked for.
python3 "$(dirname "$0")/../../bench/make_lot.py" "$work/hundred" many 100 1 2000 > /dev/null
"$report" --pdf "$work/hundred.pdf" --target 5000 "$work/hundred" > "$work/hundred.txt"
pdftotext -f 1 -l 1 "$work/hundred.pdf" "$work/page1.txt"
grep -q "^B10 life 1,423 cycles; with 90.\{1,2\}% con.*dence at least 1,306.$" "$work/page1.txt" &&
    grep -q "^Plan: each of its 100 units must pass" "$work/page1.txt" ||
    fail "page 1 is not the summary: $(head -c 600 "$work/page1.txt")"
pdftotext -layout "$work/hundred.pdf" "$work/hundred.pdf.txt"
# A row of the lot's units table (the run table names the units too).
for n in $(seq 0 99); do
    grep -Eq "^$(printf 'SN-%05d' "$n") +1 +[0-9,]+ (failed at [0-9,]+|suspended) +0 " \
        "$work/hundred.pdf.txt" || fail "unit $n is not in the lot's table"
done
grep -q "Lot M1, cycle test, units (continued)$" "$work/hundred.pdf.txt" ||
    fail "the units table goes on without saying so"
grep -q "Cycle time per cycle" "$work/hundred.pdf.txt" && fail "run pages without --runs"
"$report" --pdf "$work/runs.pdf" --runs --since "2026-12-01 08:00" "$work/hundred" > /dev/null
pdftotext "$work/runs.pdf" "$work/runs.txt"
grep -q "Cycle time per cycle" "$work/runs.txt" || fail "no run pages with --runs"
# The text report: the lot first, every line within 100 columns.
[[ $(head -1 "$work/hundred.txt") == "Lot M1, cycle test" ]] || fail "the text report does not start with the lot"
python3 -c 'import sys; w = max(len(l.rstrip("\n")) for l in open(sys.argv[1], encoding="utf-8")); sys.exit(w > 100)' \
    "$work/hundred.txt" || fail "the text report is wider than 100 columns"
for bad in "--since yesterday" "--since 2026-13-01" "--runs"; do
    status=0; "$report" $bad "$work/hundred" > /dev/null 2>&1 || status=$?
    [[ $status == 2 ]] || fail "$bad gave exit status $status"
done

# Lots whose names clean to one file name each get a file of their own.
mkdir "$work/same"
for n in 1 2; do
    cp "$work/lot/cycle_log$n.txt" "$work/same/"
    python3 - "$work/lot/cycle_log$n-run.json" "$work/same/cycle_log$n-run.json" "$n" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
r["lot"] = "SAME?" if sys.argv[3] == "1" else "SAME*"
json.dump(r, open(sys.argv[2], "w"))
PY
done
"$report" --png "$work/samepng" "$work/same" > /dev/null
[[ $(ls "$work/samepng" | grep -c -- '-weibull.png$') == 2 ]] ||
    fail "two lots share one plot's name: $(ls "$work/samepng")"

# The plan, and its bad values.
[[ $("$report" --plan --target 1000000 --reliability 0.90 --confidence 0.90 --beta 2 --units 5 --json) == \
   '{"target": 1000000, "reliability": 0.9, "confidence": 0.9, "beta": 2.0, "units": 5, "cycles_each": 2090663}' ]] ||
    fail "the plan for 5 units"
[[ $("$report" --plan --target 1000000 --cycles 1500000 --json) == *'"cycles_each": 1500000, "units_needed": 10}' ]] ||
    fail "the plan for 1,500,000 cycles"
# A figure that cannot be had is null with a sentence, never inf or 0.
"$report" --plan --target 1000 --units 5 --beta 1e-3 --json > "$work/plan.json"
python3 - "$work/plan.json" <<'PY' || fail "an impossible plan is not null with a note: $(cat "$work/plan.json")"
import json, sys
p = json.loads(open(sys.argv[1]).read(), parse_constant=lambda c: sys.exit(f"{c} in JSON"))
assert p["cycles_each"] is None and "beyond any count" in p["note"], p
PY
"$report" --plan --target 1000 --units 5 --beta 1e-3 | grep -q "inf" && fail "the plan's text says inf"
[[ $("$report" --plan --target 1000 --cycles 1e308 --json) == *'"units_needed": 1}' ]] ||
    fail "1e308 cycles each need one unit"
for bad in "--reliability 1" "--confidence 0" "--beta -1" "--target 0" "--target 1e-300" \
    "--units 5 --cycles 10" ""; do
    status=0
    # shellcheck disable=SC2086
    "$report" --plan --target 1000000 $bad > /dev/null 2> "$work/err" || status=$?
    [[ $status == 2 && -s $work/err ]] || fail "the plan with '$bad' gave exit status $status"
done

# Old logs get a record, once.
cp "$work/bench-2/cycle_log4.txt" "$work/old.txt"
mkdir "$work/old" && cp "$work/bench-2/cycle_log4.txt" "$work/old/cycle_log7.txt"
# A log written in the last minute is a run that goes on: no record yet.
status=0
"$report" --assign-unit SN-0099 "$work/old/cycle_log7.txt" > /dev/null 2> "$work/err" || status=$?
[[ $status == 1 ]] && grep -q "still being written" "$work/err" || fail "a live log got a record"
[[ ! -e $work/old/cycle_log7-run.json ]] || fail "a live log got a record file"
touch -d '2 minutes ago' "$work/old/cycle_log7.txt" "$work/old.txt"
"$report" --assign-unit SN-0099 --lot L9 "$work/old/cycle_log7.txt" > /dev/null ||
    fail "--assign-unit did not write a record"
python3 - "$work/old/cycle_log7-run.json" <<'PY' || fail "the assigned record is not as defined"
import json, sys
r = json.load(open(sys.argv[1]))
assert (r["log"], r["kind"], r["unit"], r["lot"], r["ended"], r["last_count"]) == \
       ("cycle_log7.txt", "cycle", "SN-0099", "L9", "failure", 2), r
PY
status=0
"$report" --assign-unit SN-0100 "$work/old/cycle_log7.txt" "$work/old.txt" > /dev/null 2> "$work/err" || status=$?
[[ $status == 1 && $(grep -c "got no record" "$work/err") == 2 ]] || fail "a second record or a non-log: $status"
grep -q '"SN-0099"' "$work/old/cycle_log7-run.json" || fail "an existing record was written over"
echo PASS
