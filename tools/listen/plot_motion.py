#!/usr/bin/env python3
"""Plots a CSV written by the motion listener (listen --csv FILE) as a PNG.

usage: plot_motion.py CSV [PNG]

The channels over simulation time: velocity, angular velocity and, when the
listener ran with --derive, the derived accelerations. PNG defaults to the
CSV's name with .png. Needs matplotlib (Debian: python3-matplotlib).

The PNG is checked before any work, as the tools check their outputs: a
regular file or a new one, never the CSV itself, never a device or a pipe.
It is written beside its place and takes it only when complete; a run that
fails leaves an earlier PNG as it was. Exit status: 0 when the PNG was
written, 1 when the CSV could not be plotted, 2 for a wrong command line or
a PNG refused before the work.
"""
import csv
import math
import os
import stat
import sys

TIME_FIELD_RANGE = 1 << 32  # the time field counts microseconds modulo 2^32

PANELS = [  # (column prefix, title, unit)
    ("velocity", "velocity", "m/s"),
    ("angular_velocity", "angular velocity", "rad/s"),
    ("derived_acceleration", "derived acceleration (gravity excluded)", "m/s²"),
    ("derived_angular_acceleration", "derived angular acceleration", "rad/s²"),
]
REQUIRED_PANELS = 2  # velocity and angular velocity are in every CSV
AXES = ("x", "y", "z")
TEMPORARY_NAMES = 100  # <png>.1.tmp to <png>.100.tmp, as the tools name theirs


class Refusal(Exception):
    """A run that cannot go on: one line to say, and the exit status."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


def number(text):
    """A CSV field as a number; an empty field (no derived value) or one
    that is not finite is a gap."""
    value = float(text) if text else math.nan
    return value if math.isfinite(value) else math.nan


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
    """The time field and every value column of the listener's CSV at
    `path`; a Refusal naming what is wrong with it otherwise."""
    not_ours = f"{path} is not a CSV written by the motion listener"
    try:
        with open(path, newline="", encoding="utf-8") as file:
            rows = csv.reader(file)
            header = next(rows, None)
            if header is None:
                raise Refusal(f"{path} is empty")
            names = {name: i for i, name in enumerate(header)}
            if "time_us" not in names:
                raise Refusal(f"{not_ours}: it has no time_us column")
            panels = []
            for panel, (prefix, _, _) in enumerate(PANELS):
                present = [f"{prefix}_{axis}" in names for axis in AXES]
                if all(present):
                    panels.append(PANELS[panel])
                elif any(present) or panel < REQUIRED_PANELS:
                    missing = next(f"{prefix}_{axis}" for axis, p in zip(AXES, present) if not p)
                    raise Refusal(f"{not_ours}: it has no {missing} column")
            wanted = [f"{prefix}_{axis}" for prefix, _, _ in panels for axis in AXES]
            times, columns = [], {name: [] for name in wanted}
            cut = None  # a line with fields missing: the last one of a CSV still being written, or damage
            for row in rows:
                where = f"{path}, line {rows.line_num}"
                if cut is not None:
                    raise Refusal(cut)
                if len(row) != len(header):
                    cut = f"{where}: {len(row)} fields where the header has {len(header)}"
                    if len(row) > len(header):
                        raise Refusal(cut)
                    continue
                try:
                    times.append(int(row[names["time_us"]]))
                    for name in wanted:
                        columns[name].append(number(row[names[name]]))
                except ValueError:
                    raise Refusal(f"{where}: a field that is not a number") from None
    except OSError as e:
        raise Refusal(f"cannot read {path}: {e.strerror or e}") from None
    except (csv.Error, UnicodeDecodeError) as e:
        raise Refusal(f"{not_ours}: {e}") from None
    if cut is not None:
        print(f"plot_motion: the last line of {path} is cut short: left out", file=sys.stderr)
    if not times:
        raise Refusal(f"{path} holds no datagrams")
    return times, columns, panels


def reserve_output(png_path, csv_path):
    """Checks the PNG before any work and makes its temporary file beside it:
    the temporary file's name, or a Refusal (status 2)."""
    try:
        csv_status = os.stat(csv_path)
    except OSError as e:
        raise Refusal(f"cannot read {csv_path}: {e.strerror or e}") from None
    try:
        status = os.stat(png_path)
    except FileNotFoundError:
        status = None
    except OSError as e:
        raise Refusal(f"{png_path} cannot be written: {e.strerror or e}", 2) from None
    if status is not None:
        if stat.S_ISDIR(status.st_mode):
            raise Refusal(f"{png_path} is a folder: name a file", 2)
        if not stat.S_ISREG(status.st_mode):
            raise Refusal(f"{png_path} is a device or a pipe, which the picture would take the place of: "
                          "name a file", 2)
        if os.path.samestat(status, csv_status):
            raise Refusal(f"{png_path} is the CSV being plotted: name another file", 2)
        try:  # opened for writing, changing nothing
            os.close(os.open(png_path, os.O_WRONLY))
        except OSError as e:
            raise Refusal(f"{png_path} cannot be written: {e.strerror or e}", 2) from None
    for n in range(1, TEMPORARY_NAMES + 1):
        temporary = f"{png_path}.{n}.tmp"
        try:
            os.close(os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))
            return temporary
        except FileExistsError:
            continue  # a leftover of a run that was killed: stepped over, never overwritten
        except OSError as e:
            raise Refusal(f"cannot create a temporary file beside {png_path}: {e.strerror or e}", 2) from None
    raise Refusal(f"cannot create a temporary file beside {png_path}: {png_path}.1.tmp to "
                  f"{png_path}.{TEMPORARY_NAMES}.tmp all exist", 2)


def put_in_place(temporary, png_path):
    """Renames the finished picture over its target, which must still be a
    regular file or nothing."""
    try:
        status = os.stat(png_path)
    except FileNotFoundError:
        status = None
    if status is not None and not stat.S_ISREG(status.st_mode):
        raise Refusal(f"cannot put {png_path} in place: it is no longer a regular file")
    os.replace(temporary, png_path)


def draw(csv_path, times, columns, panels, temporary):
    seconds, breaks = simulation_seconds(times)
    try:
        import matplotlib
        matplotlib.use("Agg")  # no display needed
        import matplotlib.pyplot as plt
    except ImportError:
        raise Refusal("needs matplotlib (Debian: apt-get install python3-matplotlib)") from None

    figure, axes = plt.subplots(len(panels), 1, sharex=True, figsize=(11, 2.6 * len(panels) + 0.8))
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
    figure.savefig(temporary, format="png", dpi=100)
    plt.close(figure)


def plot(csv_path, png_path):
    temporary = reserve_output(png_path, csv_path)
    try:
        times, columns, panels = read(csv_path)
        try:
            draw(csv_path, times, columns, panels, temporary)
        except OSError as e:
            raise Refusal(f"cannot write {png_path}: {e.strerror or e}") from None
        except (ValueError, OverflowError, MemoryError, RuntimeError) as e:
            raise Refusal(f"cannot plot {csv_path}: {e}") from None
        try:
            put_in_place(temporary, png_path)
        except OSError as e:
            raise Refusal(f"cannot put {png_path} in place: {e.strerror or e}") from None
        temporary = None
    finally:
        if temporary is not None:
            try:
                os.remove(temporary)
            except OSError:
                pass


def main(argv):
    arguments = argv[1:]
    if arguments and arguments[0] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if not 1 <= len(arguments) <= 2:
        raise Refusal(f"give a CSV and, if you like, a PNG\n{__doc__.strip()}", 2)
    for argument in arguments:
        if not argument:
            raise Refusal("an empty file name: name a file", 2)
        if argument.startswith("-"):
            raise Refusal(f"unknown option {argument} (a file whose name starts with - is ./{argument})", 2)
    csv_path = arguments[0]
    png_path = arguments[1] if len(arguments) == 2 else os.path.splitext(csv_path)[0] + ".png"
    plot(csv_path, png_path)
    print(f"plot_motion: {png_path}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except Refusal as refusal:
        print(f"plot_motion: {refusal}", file=sys.stderr)
        sys.exit(refusal.status)
    except KeyboardInterrupt:
        print("plot_motion: stopped", file=sys.stderr)
        sys.exit(130)
    except MemoryError:
        print("plot_motion: out of memory", file=sys.stderr)
        sys.exit(1)
    except Exception as e:  # no traceback, whatever happened: one line
        print(f"plot_motion: {type(e).__name__}: {e}", file=sys.stderr)
        sys.exit(1)
