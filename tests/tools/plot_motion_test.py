#!/usr/bin/env python3
"""plot_motion.py as a user runs it, in a temporary folder. Its PNG is checked
before the work as the tools check their outputs (a pipe, a device, a folder,
the CSV itself are refused, and left as they were); a finished PNG takes its
place only whole; and no input, however damaged, ends it in a traceback: one
line and a non-zero status. Usage: plot_motion_test.py PLOT_MOTION.py"""
import os
import stat
import subprocess
import sys
import tempfile
import unittest

SCRIPT = None  # set from the command line

HEADER = ("arrival_s,time_us,time_s,velocity_x,velocity_y,velocity_z,"
          "angular_velocity_x,angular_velocity_y,angular_velocity_z")


def listener_csv(rows=20, header=HEADER):
    lines = [header]
    for i in range(rows):
        lines.append(f"{i * 0.0166:.6f},{i * 16666},{i * 0.016666:.6f},{i * 0.5},0.1,-0.2,0.01,0.02,{i * 0.001}")
    return ("\n".join(lines) + "\n").encode()


class PlotMotion(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.csv = self.path("motion.csv")
        self.write(self.csv, listener_csv())

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def write(self, path, data):
        with open(path, "wb") as file:
            file.write(data)

    def read(self, path):
        with open(path, "rb") as file:
            return file.read()

    def plot(self, *arguments):
        run = subprocess.run([sys.executable, SCRIPT, *arguments], capture_output=True, text=True,
                             cwd=self.folder.name, timeout=120)
        self.assertNotIn("Traceback", run.stderr)
        return run

    def refused(self, status, said, *arguments):
        """The run exits `status` with one line on stderr that holds `said`."""
        run = self.plot(*arguments)
        self.assertEqual(run.returncode, status, run.stderr)
        self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
        self.assertIn(said, run.stderr)
        return run

    def temporaries(self):
        return sorted(name for name in os.listdir(self.folder.name) if name.endswith(".tmp"))

    # Paths: what the PNG may be, and what is left of it.

    def test_a_pipe_a_device_a_folder_and_the_csv_itself_are_refused_and_left_as_they_were(self):
        pipe = self.path("pipe.png")
        os.mkfifo(pipe)
        self.refused(2, "pipe.png is a device or a pipe, which the picture would take the place of", self.csv, pipe)
        self.assertTrue(stat.S_ISFIFO(os.lstat(pipe).st_mode))
        if os.geteuid() == 0:  # only root may make a device node: the null device's, in this folder
            device = self.path("null.png")
            os.mknod(device, stat.S_IFCHR | 0o666, os.makedev(1, 3))
            self.refused(2, "null.png is a device or a pipe", self.csv, device)
            self.assertTrue(stat.S_ISCHR(os.lstat(device).st_mode))
        os.mkdir(self.path("pictures"))
        self.refused(2, "pictures is a folder: name a file", self.csv, self.path("pictures"))
        before = self.read(self.csv)
        self.refused(2, "motion.csv is the CSV being plotted: name another file", self.csv, "./motion.csv")
        # A CSV named like its default picture is its own default output.
        os.rename(self.csv, self.path("motion.png"))
        self.refused(2, "motion.png is the CSV being plotted", "motion.png")
        self.assertEqual(self.read(self.path("motion.png")), before)
        self.assertEqual(self.temporaries(), [])

    def test_the_picture_takes_its_place_only_when_whole(self):
        png = self.path("motion.png")
        self.write(png, b"an earlier picture")
        self.write(png + ".1.tmp", b"left by a run that was killed")
        run = self.plot(self.csv)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(self.read(png)[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(self.read(png + ".1.tmp"), b"left by a run that was killed")  # stepped over
        self.assertEqual(self.temporaries(), ["motion.png.1.tmp"])
        # A run that fails leaves the earlier picture as it was.
        self.write(png, b"an earlier picture")
        self.write(self.csv, b"time_us\n")
        self.refused(1, "no velocity_x column", self.csv, png)
        self.assertEqual(self.read(png), b"an earlier picture")
        self.assertEqual(self.temporaries(), ["motion.png.1.tmp"])

    # Input: one line for each kind of damage, never a traceback.

    def test_damaged_input_is_one_line_and_a_non_zero_status(self):
        flipped = HEADER.replace("velocity_y", "velocitx_y", 1)  # one bit of 'y' flipped to 'x'
        self.write(self.csv, listener_csv(header=flipped))
        self.refused(1, "is not a CSV written by the motion listener: it has no velocity_y column", self.csv)
        # A recording given for a CSV: its header with a bit flipped.
        self.write(self.csv, b"SKVREC\r\n\x01\x00\x00\x00\x00\x00\x00\x80" + bytes(range(256)))
        self.refused(1, "is not a CSV written by the motion listener", self.csv)
        self.write(self.csv, listener_csv()[:200] + b"\0" + listener_csv()[200:])
        self.refused(1, "motion.csv, line ", self.csv)
        self.write(self.csv, listener_csv().replace(b",0.1,", b",0.1e,", 1))
        self.refused(1, "motion.csv, line 2: a field that is not a number", self.csv)
        lines = listener_csv().split(b"\n")
        self.write(self.csv, b"\n".join(lines[:3] + [lines[3] + b",9"] + lines[4:]))
        self.refused(1, "motion.csv, line 4: 10 fields where the header has 9", self.csv)
        self.write(self.csv, b"\n".join(lines[:3] + [lines[3][:10]] + lines[4:]))
        self.refused(1, "motion.csv, line 4: 2 fields where the header has 9", self.csv)
        self.write(self.csv, b"")
        self.refused(1, "motion.csv is empty", self.csv)
        self.write(self.csv, HEADER.encode() + b"\n")
        self.refused(1, "motion.csv holds no datagrams", self.csv)
        self.refused(1, "cannot read nothing.csv: No such file or directory", "nothing.csv")

    def test_odd_but_readable_input_is_plotted(self):
        # Numbers that are no finite values are gaps; a last line cut short
        # (a CSV still being written) is left out, and said so.
        data = listener_csv().replace(b",0.1,", b",inf,", 2).replace(b",0.02,", b",nan,", 1)
        self.write(self.csv, data + b"9.9,165,0.00")
        run = self.plot("motion.csv", "out.png")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("the last line of motion.csv is cut short: left out", run.stderr)
        self.assertEqual(self.read(self.path("out.png"))[:4], b"\x89PNG")

    def test_a_wrong_command_line_is_status_2(self):
        self.refused(2, "an empty file name", "")
        self.refused(2, "unknown option -lead.csv (a file whose name starts with - is ./-lead.csv)", "-lead.csv")
        run = self.plot()
        self.assertEqual(run.returncode, 2)
        self.assertIn("give a CSV", run.stderr)
        self.assertEqual(self.plot("--help").returncode, 0)


if __name__ == "__main__":
    SCRIPT = os.path.abspath(sys.argv.pop(1))
    unittest.main()
