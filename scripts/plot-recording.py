#!/usr/bin/env python3
"""Draws a data file's recording as an SVG picture: cuff pressure above, the
pulse wave below with the program's envelope, the SBP and DBP markers and the
unit's pulse marks. Uses only the standard library and hx40k-data.

    scripts/plot-recording.py DATAFILE OUT.svg [--title TEXT] [--bin DIR]
"""

import argparse
import json
import os
import subprocess
import sys

WIDTH, HEIGHT = 1200, 620
LEFT, RIGHT = 70, 20
TOP_PANEL = (40, 230)  # y from, y to
WAVE_PANEL = (270, 590)


def run_tool(binary, *args):
    out = subprocess.run([binary, *args], check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def recording_length(pressure):
    # As the program reads it: up to the first run of five zero samples.
    for k in range(len(pressure)):
        if all(v == 0 for v in pressure[k:k + 5]):
            return k
    return len(pressure)


def polyline(points, colour, width=1.0):
    text = " ".join(f"{x:.1f},{y:.1f}" for x, y in points)
    return f'<polyline fill="none" stroke="{colour}" stroke-width="{width}" points="{text}"/>'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("datafile")
    parser.add_argument("out")
    parser.add_argument("--title", default="")
    parser.add_argument("--bin", default=os.path.join(os.path.dirname(__file__), "..", "build", "bin"))
    args = parser.parse_args()
    tool = os.path.join(args.bin, "hx40k-data")
    dump = run_tool(tool, "dump", args.datafile)
    analysis = run_tool(tool, "analyse", args.datafile)

    pressure, wave = dump["pressure"], dump["wave"]
    n = max(2, recording_length(pressure))
    x_of = lambda i: LEFT + (WIDTH - LEFT - RIGHT) * i / (n - 1)

    p_max = max(10, max(pressure[:n]) / 2.0)
    p_y = lambda mmhg: TOP_PANEL[1] - (TOP_PANEL[1] - TOP_PANEL[0]) * mmhg / p_max
    w_lo, w_hi = min(wave[:n]), max(wave[:n])
    w_span = max(1, w_hi - w_lo)
    w_y = lambda v: WAVE_PANEL[1] - (WAVE_PANEL[1] - WAVE_PANEL[0]) * (v - w_lo) / w_span

    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
             f'font-family="Liberation Sans, sans-serif" font-size="13">',
             f'<rect width="{WIDTH}" height="{HEIGHT}" fill="white"/>']
    sbp, mbp, dbp = dump["sbp"] / 2.0, dump["mbp"] / 2.0, dump["dbp"] / 2.0
    title = args.title or os.path.basename(args.datafile)
    values = (f"unit SBP {sbp:g} / MBP {mbp:g} / DBP {dbp:g} mmHg" if dump["sbp"] > 0
              else "the unit gave no values (an error result)")
    parts.append(f'<text x="{LEFT}" y="22" font-size="15">{title}: {values}, {n} samples (100/s)</text>')
    # Axes and grid: pressure every 50 mmHg, time every 5 s.
    for mmhg in range(0, int(p_max) + 1, 50):
        parts.append(f'<line x1="{LEFT}" x2="{WIDTH - RIGHT}" y1="{p_y(mmhg):.1f}" y2="{p_y(mmhg):.1f}" '
                     f'stroke="#ddd"/><text x="{LEFT - 8}" y="{p_y(mmhg) + 4:.1f}" text-anchor="end">{mmhg}</text>')
    for s in range(0, n // 100 + 1, 5):
        x = x_of(min(n - 1, s * 100))
        parts.append(f'<line x1="{x:.1f}" x2="{x:.1f}" y1="{TOP_PANEL[0]}" y2="{WAVE_PANEL[1]}" stroke="#eee"/>'
                     f'<text x="{x:.1f}" y="{HEIGHT - 10}" text-anchor="middle">{s} s</text>')
    parts.append(f'<text x="12" y="{(TOP_PANEL[0] + TOP_PANEL[1]) / 2:.0f}" '
                 f'transform="rotate(-90 12 {(TOP_PANEL[0] + TOP_PANEL[1]) / 2:.0f})">cuff mmHg</text>')
    parts.append(f'<text x="12" y="{(WAVE_PANEL[0] + WAVE_PANEL[1]) / 2:.0f}" '
                 f'transform="rotate(-90 12 {(WAVE_PANEL[0] + WAVE_PANEL[1]) / 2:.0f})">pulse wave</text>')
    parts.append(polyline([(x_of(i), p_y(pressure[i] / 2.0)) for i in range(n)], "#1f4fbf", 1.5))
    parts.append(polyline([(x_of(i), w_y(wave[i])) for i in range(n)], "#222", 0.8))
    curve = analysis.get("envelope", [])
    segment = []
    for i in range(min(n, len(curve))):
        if curve[i] is None:
            if segment:
                parts.append(polyline(segment, "#d4202a", 2))
            segment = []
        else:
            segment.append((x_of(i), w_y(curve[i])))
    if segment:
        parts.append(polyline(segment, "#d4202a", 2))
    for mark in dump.get("pulseMarks", []):
        if 0 < mark < n:
            parts.append(f'<circle cx="{x_of(mark):.1f}" cy="{w_y(wave[mark]):.1f}" r="2.5" fill="#2a9d3a"/>')
    for name, index in (("SBP", dump["firstMarker"]), ("DBP", dump["secondMarker"])):
        if 0 < index < n:
            x = x_of(index)
            parts.append(f'<line x1="{x:.1f}" x2="{x:.1f}" y1="{TOP_PANEL[0]}" y2="{WAVE_PANEL[1]}" '
                         f'stroke="#e08a00" stroke-dasharray="4 3"/>'
                         f'<text x="{x + 4:.1f}" y="{TOP_PANEL[0] + 14}" fill="#e08a00">{name}</text>')
    parts.append(f'<text x="{WIDTH - RIGHT}" y="{WAVE_PANEL[0] - 8}" text-anchor="end">'
                 f'<tspan fill="#222">wave</tspan>  <tspan fill="#d4202a">program envelope</tspan>  '
                 f'<tspan fill="#2a9d3a">unit pulse marks</tspan></text>')
    parts.append("</svg>\n")
    with open(args.out, "w", encoding="utf-8") as out:
        out.write("\n".join(parts))
    return 0


if __name__ == "__main__":
    sys.exit(main())
