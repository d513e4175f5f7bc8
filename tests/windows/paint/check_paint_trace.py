#!/usr/bin/env python3
"""Runs a paint scenario under Wine with the GDI+ trace on and checks what
every paint drew, where, and that it released what it made.

    check_paint_trace.py WINE PROGRAM SCENARIO [ARGS...]

The environment (WINEPREFIX with "Courier New" mapped to a real font,
DISPLAY) comes from the caller. Exits 0 when every check holds.
"""
import os
import re
import subprocess
import sys

CLEAR = "ffdce8f4"  # ARGB(255, 220, 232, 244)
BLACK = "ff000000"
NULL = "0000000000000000"

TRACE = re.compile(r"^[0-9a-f]+:trace:gdiplus:(\w+) (.*)$")
DRAW_STRING = re.compile(
    r'^\((\w+), L"(.*)"(\.\.\.)?, (-?\d+), (\w+), \(([-\d.]+),([-\d.]+),([-\d.]+),([-\d.]+)\), (\w+), (\w+)\)$')
ESCAPE = re.compile(r'\\([0-9a-fA-F]{4}|.)')


def unescape(text):
    r"""Undoes Wine's debugstr_w quoting: \\, \", \n, \r, \t, and a
    backslash with four hex digits for any other unit outside ' ' to '~'."""
    simple = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}

    def one(m):
        code = m.group(1)
        return chr(int(code, 16)) if len(code) == 4 else simple.get(code, code)

    return ESCAPE.sub(one, text)


class Paint:
    def __init__(self, bitmap_call, phase):
        self.bitmap_call = bitmap_call
        self.phase = phase  # the host's last "mark:" before the paint began
        self.bitmap = None
        self.brush = None
        self.font = None
        self.font_call = None
        self.family_name = None
        self.clears = []
        self.texts = []  # (x, y, text)
        self.draw_calls = []  # (graphics, font, format, brush, width, height, length, cut)
        self.image_draws = []  # (graphics, image, x, y)
        self.releases = []  # (function, handle), in trace order
        self.pending = None


def parse(trace):
    """Splits the trace into paints: each begins with its back buffer."""
    paints = []
    phase = None
    for line in trace.splitlines():
        if line.startswith("mark:"):
            phase = line[5:].strip()
            continue
        m = TRACE.match(line.strip())
        if not m:
            continue
        func, rest = m.groups()
        if func == "GdipCreateBitmapFromScan0" and not rest.startswith("<--"):
            paints.append(Paint(rest, phase))
            paints[-1].pending = "bitmap"
            continue
        if not paints:
            continue
        p = paints[-1]
        if rest.startswith("<--"):
            handle = rest[3:].strip()
            if p.pending == "bitmap" and func == "GdipCreateBitmapFromScan0":
                p.bitmap = handle
            elif p.pending == "brush" and func == "GdipCreateSolidFill":
                p.brush = handle
            elif p.pending == "font" and func == "GdipCreateFont":
                p.font = handle
            p.pending = None
        elif func == "GdipCreateSolidFill" and rest.startswith("(" + BLACK) and p.brush is None:
            p.pending = "brush"
        elif func == "GdipCreateFontFamilyFromName" and p.family_name is None:
            p.family_name = rest
        elif func == "GdipCreateFont" and p.font is None:
            p.font_call = rest
            p.pending = "font"
        elif func == "GdipGraphicsClear":
            p.clears.append(rest)
        elif func == "GdipDrawString":
            d = DRAW_STRING.match(rest)
            if not d:
                raise ValueError("unreadable GdipDrawString trace: " + rest)
            graphics, text, cut, length, font, x, y, w, h, fmt, brush = d.groups()
            p.texts.append((float(x), float(y), unescape(text)))
            p.draw_calls.append((graphics, font, fmt, brush, float(w), float(h), int(length), bool(cut)))
        elif func == "GdipDrawImageI":
            p.image_draws.append(tuple(s.strip() for s in rest.strip("()").split(",")))
        elif func in ("GdipDeleteGraphics", "GdipDeleteFont", "GdipDeleteBrush"):
            p.releases.append((func, rest.strip("()")))
        elif func == "GdipDisposeImage":
            p.releases.append((func, rest.strip()))
    return paints


class Checker:
    def __init__(self):
        self.failures = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition

    def paint_objects(self, index, p, device=True):
        """One paint makes its objects as fixed, draws with them, copies the
        back buffer in one image draw and releases all in reverse order."""
        where = "paint %d: " % (index + 1)
        e = self.expect
        e(p.bitmap_call.startswith("640 1080 0 0x21808 " + NULL), where + "back buffer made as " + p.bitmap_call)
        e(p.bitmap not in (None, NULL), where + "no back buffer")
        e(p.brush not in (None, NULL), where + "no black brush")
        e(p.family_name is not None and p.family_name.startswith('L"Courier New", ' + NULL),
          where + "font family asked as %s" % p.family_name)
        if not e(p.font not in (None, NULL), where + 'no font: is "Courier New" mapped to an installed font?'):
            return
        e(p.font_call is not None and ", 11.000000, 0, 2, " in p.font_call, where + "font made as %s" % p.font_call)
        if not e(len(p.clears) >= 1, where + "no clear"):
            return
        graphics = p.clears[0].strip("()").split(",")[0].strip()
        e(p.clears[0].strip("()").split(",")[1].strip() == CLEAR, where + "cleared as " + p.clears[0])
        for call in p.draw_calls:
            g, font, fmt, brush, w, h, length, cut = call
            e((g, font, fmt, brush, w, h, length) == (graphics, p.font, NULL, p.brush, 0.0, 0.0, -1),
              where + "text drawn with other objects: %r" % (call,))
            e(not cut, where + "a text too long for the trace")
        if not e(len(p.image_draws) == 1, where + "%d image draws, not one" % len(p.image_draws)):
            return
        final, image, x, y = p.image_draws[0]
        e((image, x, y) == (p.bitmap, "0", "0"), where + "back buffer copied as %r" % (p.image_draws[0],))
        if device:
            e(final not in (NULL, graphics), where + "copy not through a graphics of the device context")
        else:
            e(final == NULL, where + "a graphics made on no device context")
        wanted = [("GdipDeleteGraphics", final), ("GdipDeleteFont", p.font), ("GdipDeleteBrush", p.brush),
                  ("GdipDeleteGraphics", graphics), ("GdipDisposeImage", p.bitmap)]
        mine = [r for r in p.releases if r in wanted]
        e(mine == wanted, where + "released %r, wanted %r" % (mine, wanted))

    def texts(self, index, p, expected):
        where = "paint %d: " % (index + 1)
        got = p.texts
        self.expect(len(got) == len(expected), where + "%d texts drawn, expected %d" % (len(got), len(expected)))
        for n, (g, w) in enumerate(zip(got, expected)):
            self.expect(g == w, where + "text %d is %r, expected %r" % (n + 1, g, w))


def header(count, dt, counter):
    return (10.0, 4.0, "messages = %d  dt=%f  counter=%d" % (count, dt, counter))


def line(n, value, name, flags):
    y = 4.0 + 16.0 * n
    return [(0.0, y, "%3d:" % n), (40.0, y, value), (300.0, y, "'%s'  flags=%d" % (name, flags))]


def picture(count, dt, counter, lines):
    texts = [header(count, dt, counter)]
    for n, (value, name, flags) in enumerate(lines, start=1):
        texts += line(n, value, name, flags)
    return texts


def numbered(tag, count):
    return [("v=%d" % (tag * 1000 + i), "Aircraft.Altitude", i) for i in range(1, count + 1)]


DATA_TYPES = [
    ("void", "Aircraft.Crashed", 0),
    ("v=-1234567890123", "Aircraft.Gear", 1),
    ("v=3.142", "Simulation.Time", 2),
    ("v=(1.500 -2.250)", "View.Pan.Center", 3),
    ("v=(10.000 -0.000 1234.568)", "Aircraft.Velocity", 4),
    ("v=(0.100 0.200 0.300 0.400)", "Aircraft.Orientation", 5),
    ("s='Gr\u00fcn ?'", "Aircraft.Name", 6),
    ("s='%s'" % "".join(chr(ord("A") + i % 26) for i in range(64)), "Aircraft.NearestAirport", 7),
    ("v=42", "unknown", 2**64 - 1),
    ("", "Controls.Trim", 8),
    ("", "unknown", 9),
    # Far wider than its column: every digit of 1e300, the whole cut to 254.
    (("v=(%.3f %.3f %.3f %.3f)" % (1e300, -1e300, 0, 0))[:254], "Aircraft.Wind", 10),
]

# Scenarios of paint_probe: (expected texts of every paint, index of a paint
# on no device context)
PROBE_SCENARIOS = {
    "first": ([picture(0, 0.0, 1, [])], None),
    "data_types": ([picture(len(DATA_TYPES), 0.02, 1, DATA_TYPES)], None),
    "hundred": ([[header(100, 1 / 60, 1)] + sum((line(n, "v=%d" % (1000 + n), "Aircraft.Altitude", n)
                                                 for n in range(1, 68)), [])], None),
    "sequence": ([
        picture(0, 0.0, 1, []),
        picture(1, 0.5, 2, numbered(1, 1)),
        picture(3, 0.125, 3, numbered(3, 3)),  # frame 2 was overtaken before a paint
        picture(3, 0.125, 4, numbered(3, 3)),  # no news: the same frame again
        picture(3, 0.125, 5, numbered(3, 3)),
        picture(2, 0.0625, 6, numbered(4, 2)),
        picture(2, 0.0625, 7, numbered(4, 2)),  # asked for by the system
    ], None),
    "no_device": ([picture(0, 0.0, 1, []), picture(0, 0.0, 2, [])], 0),
}


def check_probe(c, scenario, paints):
    expected, no_device = PROBE_SCENARIOS[scenario]
    c.expect(len(paints) == len(expected), "%d paints, expected %d" % (len(paints), len(expected)))
    for i, (p, texts) in enumerate(zip(paints, expected)):
        c.paint_objects(i, p, device=(i != no_device))
        c.texts(i, p, texts)


# The frames dll_paint_host hands the plug-in, oldest first: (count, dt, lines).
HOST_FRAMES = [
    (0, 0.0, []),
    (3, 0.02, [("v=12.500", "Simulation.Time", 0), ("v=(1.000 2.000 3.000)", "Aircraft.Velocity", 0),
               ("v=(-0.500 0.250 0.125)", "Aircraft.AngularVelocity", 0)]),
    (2, 0.04, [("v=13.000", "Simulation.Time", 0), ("v=1500.000", "Aircraft.Altitude", 0)]),
    (1, 0.01, [("v=1.000", "Aircraft.Gear", 0)]),
]
# Per phase of the host: the frame it ends up showing, and the fewest paints
# it lasts for (0.3 s: the first showing; 1.3 s and more: two timer paints).
PHASES = {"started": (0, 1), "first": (1, 4), "second": (2, 2), "restarted": (2, 2), "third": (3, 2)}


def check_timer(c, paints):
    """The plug-in's own window and timer: every paint shows a whole frame,
    frames only ever move forward, the counter goes on by one across a
    restart, and the timer repaints about twice a second."""
    shown = []
    for i, p in enumerate(paints):
        c.paint_objects(i, p)
        frame = None
        for k, (count, dt, lines) in enumerate(HOST_FRAMES):
            if p.texts == picture(count, dt, i + 1, lines):
                frame = k
        c.expect(frame is not None, "paint %d (%s) shows no frame whole, or the counter is not %d: %r"
                 % (i + 1, p.phase, i + 1, p.texts[:1]))
        shown.append(frame)
    known = [k for k in shown if k is not None]
    c.expect(known == sorted(known), "a paint went back to an older frame: %r" % shown)
    for phase, (frame, fewest) in PHASES.items():
        in_phase = [k for p, k in zip(paints, shown) if p.phase == phase]
        if c.expect(len(in_phase) >= fewest, "%d paints while %s" % (len(in_phase), phase)):
            c.expect(in_phase[-1] == frame, "while %s the last paint showed frame %s, not %d"
                     % (phase, in_phase[-1], frame))
    # 2.5 s between the first and the second frame: five timer paints, give or take one.
    ticks = sum(1 for p in paints if p.phase == "first")
    c.expect(4 <= ticks <= 6, "%d paints in 2.5 s, not about five" % ticks)
    print("paints by phase:", [(p.phase, k) for p, k in zip(paints, shown)])


def main():
    wine, program, scenario = sys.argv[1:4]
    env = dict(os.environ, WINEDEBUG="trace+gdiplus")
    run = subprocess.run([wine, program, scenario] + sys.argv[4:], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, timeout=100)
    out = run.stdout.decode("utf-8", "replace")
    paints = parse(run.stderr.decode("latin-1"))

    c = Checker()
    c.expect(run.returncode == 0 and "paints done" in out, "exit code %d: %s" % (run.returncode, out.strip()))
    if scenario == "timer":
        check_timer(c, paints)
    else:
        check_probe(c, scenario, paints)

    for f in c.failures:
        print("FAIL:", f)
    print("%s: %d paints, %d texts checked, %d failures" % (
        scenario, len(paints), sum(len(p.texts) for p in paints), len(c.failures)))
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
