#!/usr/bin/env python3
"""Writes bench folders of cycle logs with their run records, as the program
writes them, for whole lots of shutters.
usage: make_lot.py FOLDER example     the worked lot L7: failures at 12,000,
                                      25,500, 31,000, 44,000 and 61,000 cycles,
                                      suspensions at 70,000, 70,000, 15,000;
                                      SN-0003 over two runs, SN-0005 with a
                                      supply fault that ends a run
       make_lot.py FOLDER many UNITS RUNS_PER_UNIT ROWS_PER_RUN
                                      UNITS shutters in lot M1, each over
                                      RUNS_PER_UNIT logs; about a third fail"""
import json
import os
import random
import sys

folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)
number = 0


def clock(seconds):
    s = seconds % 86400
    h, m, sec = s // 3600, s // 60 % 60, s % 60
    return f"{(h % 12) or 12}:{m:02d}:{sec:02d} {'AM' if h < 12 else 'PM'}"


def run(unit, lot, rows, last_error="", day=1):
    """One log of `rows` rows, the last a FAILURE row when last_error is given."""
    global number
    number += 1
    name = f"cycle_log{number}.txt"
    out = ["Shutter Cycle Test\r\n", f"Started on 12/{day}/2026 at 8:00:00 AM\r\n", "\r\n",
           "Count\tStatus\tTime\tError\r\n"]
    t = 8 * 3600
    for count in range(1, rows + 1):
        t += 1
        if count == rows and last_error:
            out.append(f"{count}\tFAILURE\t{clock(t)}\t{last_error}\r\n\r\n")
        else:
            out.append(f"{count}\tSUCCESS\t{clock(t)}\tNONE\r\n")
    with open(os.path.join(folder, name), "w", newline="") as f:
        f.write("".join(out))
    record = {"format": 1, "log": name, "kind": "cycle", "unit": unit, "lot": lot,
              "started_utc": f"2026-12-{day:02d}T07:00:00Z", "utc_offset_minutes": 60,
              "ended_utc": f"2026-12-{day:02d}T23:00:00Z",
              "ended": "failure" if last_error else "stopped", "last_count": rows}
    with open(os.path.join(folder, name[:-4] + "-run.json"), "w") as f:
        json.dump(record, f)


JAM = "OpenShutter Error: -1 Timed out waiting for shutter response"
SUPPLY = "PowerOn Error: -222,\"Data out of range\""
if sys.argv[2] == "example":
    run("SN-0001", "L7", 12000, JAM)
    run("SN-0002", "L7", 25500, JAM)
    run("SN-0003", "L7", 20000, "", day=1)
    run("SN-0003", "L7", 11000, "OpenShutter Error: E2<TAB>JAM", day=4)
    run("SN-0004", "L7", 44000, JAM)
    run("SN-0005", "L7", 3000, SUPPLY, day=1)
    run("SN-0005", "L7", 58000, JAM, day=2)
    run("SN-0006", "L7", 70000)
    run("SN-0007", "L7", 70000)
    run("SN-0008", "L7", 15000)
else:
    units, per_unit, rows = (int(a) for a in sys.argv[3:6])
    rng = random.Random(7)
    for u in range(units):
        fails = rng.random() < 0.35
        for r in range(per_unit):
            last = r == per_unit - 1
            n = rows - (rng.randint(0, rows // 2) if fails and last else 0)
            run(f"SN-{u:05d}", "M1", n, JAM if fails and last else "", day=1 + r % 28)
