#!/usr/bin/env python3
"""Writes FOLDERS bench folders of RUNS cycle logs of ROWS rows each (copies
of one log, as many benches' weeks would leave them), for the report's speed.
usage: make_folders.py ROOT FOLDERS RUNS ROWS"""
import os
import shutil
import sys

root, folders, runs, rows = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])


def clock(seconds):
    s = seconds % 86400
    h, m, sec = s // 3600, s // 60 % 60, s % 60
    return f"{(h % 12) or 12}:{m:02d}:{sec:02d} {'AM' if h < 12 else 'PM'}"


os.makedirs(root, exist_ok=True)
first = os.path.join(root, "template.txt")
with open(first, "w", newline="") as f:
    f.write("Shutter Cycle Test\r\nStarted on 12/8/2026 at 3:07:09 PM\r\n\r\n"
            "Count\tStatus\tTime\tError\r\n")
    t = 15 * 3600 + 7 * 60 + 9
    for count in range(1, rows + 1):
        t += 5
        error = "OpenShutter Error: -1 Timed out waiting for shutter response" \
            if count % 997 == 0 else "NONE"
        f.write(f"{count}\t{'SUCCESS' if error == 'NONE' else 'FAILURE'}\t{clock(t)}\t{error}\r\n")
for b in range(folders):
    folder = os.path.join(root, f"bench-{b:03d}")
    os.makedirs(folder, exist_ok=True)
    for r in range(1, runs + 1):
        shutil.copyfile(first, os.path.join(folder, f"cycle_log{r}.txt"))
os.remove(first)
