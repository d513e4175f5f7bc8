#!/usr/bin/env python3
"""Plots a CSV written by the motion listener (listen --csv FILE) as a PNG.

usage: plot_motion.py CSV [PNG]

The channels over simulation time: velocity, angular velocity and, when the
listener ran with --derive, the derived accelerations. PNG defaults to the
CSV's name with .png. Needs matplotlib (Debian: python3-matplotlib).
"""
import csv
import math
import os
import sys

TIME_FIELD_RANGE = 1 << 32  # the time field counts microseconds modulo 2^32

PANELS = [  # (column prefix, title, unit)
    ("velocity", "velocity", "m/s"),
    ("angular_velocity", "angular velocity", "rad/s"),
    ("derived_acceleration", "derived acceleration (gravity excluded)", "m/s²"),
    ("derived_angular_acceleration", "derived angular acceleration", "rad/s²"),
]
AXES = ("x", "y", "z")


def fail(message):
    print(f"plot_motion: {message}", file=sys.stderr)
    sys.exit(1)


def number(text):
    """A CSV field as a number; an empty field (no derived value) is a gap."""
    return float(text) if text else math.nan


def simulation_seconds(times_us):
    """The time field made continuous: steps modulo 2^32, so the wrap is an
    ordinary step; a step back (a replay restarted) breaks the line."""
    seconds, breaks = [], []
    now = None
    for i, t in enumerate(times_us):
        if now is None:
            now = t / 1e6
        else:
            step = (t - times_us[i - 1]) % TIME_FIELD_RANGE
            if step >= TIME_FIELD_RANGE // 2:
                step -= TIME_FIELD_RANGE
                breaks.append(i)
            now += step / 1e6
        seconds.append(now)
    return seconds, breaks


def read(path):
    try:
        with open(path, newline="") as file:
            rows = list(csv.DictReader(file))
            header = rows[0].keys() if rows else []
    except OSError as e:
        fail(f"cannot read {path}: {e.strerror}")
    except (csv.Error, UnicodeDecodeError) as e:
        fail(f"{path} is not a CSV file: {e}")
    if not rows:
        fail(f"{path} holds no datagrams")
    if "time_us" not in header or "velocity_x" not in header:
        fail(f"{path} is not a CSV written by the motion listener")
    try:
        times = [int(row["time_us"]) for row in rows]
        columns = {name: [number(row[name]) for row in rows] for name in header if name not in ("time_us", "time_s")}
    except (TypeError, ValueError):
        fail(f"{path} has a field that is not a number")
    return times, columns


def plot(csv_path, png_path):
    times, columns = read(csv_path)
    seconds, breaks = simulation_seconds(times)
    panels = [p for p in PANELS if f"{p[0]}_x" in columns]

    import matplotlib
    matplotlib.use("Agg")  # no display needed
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(len(panels), 1, sharex=True, figsize=(11, 2.6 * len(panels) + 0.8))
    axes = axes if len(panels) > 1 else [axes]
    for ax, (prefix, title, unit) in zip(axes, panels):
        for axis in AXES:
            values = list(columns[f"{prefix}_{axis}"])
            for i in breaks:  # no line across a step back in time
                values[i - 1 if i > 0 else i] = math.nan
            ax.plot(seconds, values, label=axis, linewidth=1.2)
        ax.set_ylabel(f"{title}\n{unit}", fontsize=9)
        ax.grid(True, alpha=0.3)
        ax.legend(loc="upper left", fontsize=8, ncol=3)
    axes[-1].set_xlabel("simulation time, s  (body axes: x forward, y right, z down)")
    figure.suptitle(f"Motion datagrams from {os.path.basename(csv_path)}: {len(times)} received, "
                    f"{seconds[0]:.2f} s to {seconds[-1]:.2f} s")
    figure.tight_layout()
    # Written beside the target and put in its place once complete.
    temporary = png_path + ".tmp"
    try:
        figure.savefig(temporary, format="png", dpi=100)
        os.replace(temporary, png_path)
    except OSError as e:
        if os.path.exists(temporary):
            os.remove(temporary)
        fail(f"cannot write {png_path}: {e.strerror}")


def main(argv):
    if len(argv) not in (2, 3) or argv[1] in ("-h", "--help"):
        print(__doc__.strip(), file=sys.stderr if len(argv) not in (2, 3) else sys.stdout)
        return 0 if len(argv) in (2, 3) else 2
    csv_path = argv[1]
    png_path = argv[2] if len(argv) == 3 else os.path.splitext(csv_path)[0] + ".png"
    plot(csv_path, png_path)
    print(f"plot_motion: {png_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
