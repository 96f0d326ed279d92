#!/usr/bin/env python3
"""Writes a long power-cut log (and its move-times companion) as the program
writes them: rows 5 s apart from 3:07:09 PM, crossing midnight every 17,280
rows, a failed final opening inside a SUCCESS row now and then (more of them
as the run goes on), and a FAILURE row with a supply reply at the end.
usage: make_log.py FOLDER [ROWS]"""
import os
import random
import sys

folder = sys.argv[1]
rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
os.makedirs(folder, exist_ok=True)
rng = random.Random(7)
start = 15 * 3600 + 7 * 60 + 9


def clock(seconds):
    s = seconds % 86400
    h, m, sec = s // 3600, s // 60 % 60, s % 60
    return f"{(h % 12) or 12}:{m:02d}:{sec:02d} {'AM' if h < 12 else 'PM'}"


log = ["Shutter Power Cut Test\r\n", "Started on 12/8/2026 at 3:07:09 PM\r\n", "\r\n",
       "Count\tStatus\tTime\tError\r\n"]
moves = ["Count\tOpen ms\tClose ms\r\n"]
t = start
for count in range(1, rows + 1):
    t += 5 if rng.random() > 0.001 else 31
    error = ""
    if count == rows:
        log.append(f"{count}\tFAILURE\t{clock(t)}\tPowerOn Error: -222,\"Data out of range\"\r\n\r\n")
        moves.append(f"{count}\t\t\r\n")
        break
    if rng.random() < 0.0002 + 0.0006 * count / rows:
        error = "OpenShutter Error: -1 Timed out waiting for shutter response"
        if rng.random() < 0.3:
            error = "OpenShutter Error: E2<TAB>JAM"
    log.append(f"{count}\tSUCCESS\t{clock(t)}\t{error}\r\n")
    wear = count * 40 // rows
    moves.append(f"{count}\t{'' if error else 200 + wear + rng.randint(0, 20)}\t"
                 f"{190 + wear + rng.randint(0, 15)}\r\n")
with open(os.path.join(folder, "powercut_log1.txt"), "w", newline="") as f:
    f.write("".join(log))
with open(os.path.join(folder, "powercut_log1-moves.tsv"), "w", newline="") as f:
    f.write("".join(moves))
