#!/usr/bin/env python3
"""What only the dialog's windows show, under Wine on a private Xvfb display, fed real drops (tests/README.md)."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

from wine_build import (JPEG, NAMES, WINESERVER, Driver, check, choose, make_dots, opened, png_of, run,  # noqa: F401
                        run_cases, watch_opens, win_path, wine_prefix, write, write_names)  # run, wine_prefix, write: tools/screenshot.py

FIELDS = ("caption", "name", "type", "size", "scale", "colors")
PLAIN = "QVR Version 1.0"
UNKNOWN = {"caption": PLAIN, "size": "??? Byte", "scale": "??? × ??? Pixel", "colors": "??? 色"}
NO_FILE = dict(UNKNOWN, name="ファイルをドロップしてください。", type="画像情報取得ツール " + PLAIN)
BAD_NAME = dict(UNKNOWN, name="ファイル名が不正です。")
MISSING = dict(BAD_NAME, type="ファイルタイプを取得できません。")  # neither the shell nor the search knows it
NO = "未サポート"
WAYS = ("ok", "escape", "enter", "closebox", "notified", "x")  # the driver's ways of closing, and X's


def until(probe, message, timeout=20):
    deadline = time.time() + timeout
    while not (value := probe()):
        check(time.time() < deadline, message)
        time.sleep(0.02)
    return value


def shown(name, size, scale=NO, colors=NO, **more):
    return dict(caption=name + " - " + PLAIN, name=name, size=size, scale=scale, colors=colors, **more)


def expect(w, want, what):
    """The window shows `want`; without a type in `want`, some type name of the shell."""
    wrong = ["%s %r, expected %r" % (k, w[k], want[k]) for k in FIELDS if k in want and w[k] != want[k]]
    if "type" not in want and w["type"] in ("", MISSING["type"]):
        wrong.append("no type name of the shell: %r" % w["type"])
    check(not wrong, "%s: %s" % (what, "; ".join(wrong)))


def green(pixels):  # how many of the (r, g, b) pixels are the ruler green of the program's icon
    return sum(g >= 200 and g > r + 40 and g > b + 40 for r, g, b in pixels)


class Session(Driver):
    """The dialog driver on Xvfb and a Wine prefix of its own, for the whole run."""

    def __init__(self, args, tmp, xvfb):
        self.args, self.tmp, self.dir = args, tmp, os.path.join(tmp, "files")
        self.wine, (exe, driver, self.qvrc) = choose(args.exe, args.driver, args.qvrc)
        self.env = wine_prefix(tmp, self.wine, ":" + xvfb.stdout.readline().decode().strip())
        super().__init__(self.wine, driver, win_path(exe), win_path(self.dir), self.env)
        com1, port = os.path.join(self.tmp, "prefix", "dosdevices", "com1"), os.path.join(self.tmp, "port")
        until(lambda: os.path.realpath(com1) == port, "COM1 of the prefix is not the FIFO")
        self.port = watch_opens(port)

    def launch(self, tail):  # the exact command line "<exe>" + tail
        self.cmd("launch " + tail.encode("utf-8").hex())

    def windows(self):  # the number of the program's processes, and its visible windows
        procs, *found = self.cmd("list").split(" ; ")
        return int(procs), [{k: bytes.fromhex(v).decode("cp932") if k in FIELDS else v
                             for k, _, v in (kv.partition("=") for kv in w.split())} for w in found]

    def settle(self, count, what):
        """Waits for `count` windows, one per process, alone for a second; in the order of their processes."""
        deadline, since = time.time() + 20, None
        while not since or time.time() < since + 1:
            procs, wins = self.windows()
            state = "%d processes, windows %s" % (procs, [w["name"] for w in wins])
            check(procs == count == len(wins) or not since, "%s: then %s" % (what, state))
            check(since or time.time() < deadline, "%s: %s, expected %d" % (what, state, count))
            since = since or (procs == count == len(wins) and time.time())
            time.sleep(0.05)
        # Unix pids of Wine processes grow in the order of creation; Windows reuses its ids.
        return sorted(wins, key=lambda w: self.xprop(w, "_NET_WM_PID")[0])

    def shows(self, w, name, what):  # the window once it shows `name`
        now = {}

        def probe():
            now.update(([x for x in self.windows()[1] if x["hwnd"] == w["hwnd"]] or [{"name": "(closed)"}])[0])
            return now["name"] == name and dict(now)
        return until(probe, lambda: "%s: the window shows %r, not %r" % (what, now["name"], name), 10)

    def xprop(self, w, prop):  # the 32-bit numbers of a property of the window's X window
        out = run(self.env, "xprop", "-id", str(int(w["xid"], 16)), "-notype", "32c", prop).decode()
        return [int(n) for n in re.findall(r"\d+", out.partition("=")[2])]

    def xdnd(self, w, *paths):
        run(self.env, self.args.xdnd, str(int(w["xid"], 16)), *paths)

    def dropfiles(self, w, *paths):  # a drop of the names as listed: Wine's XDND trims them
        self.cmd("dropfiles %s %s" % (w["hwnd"], "\n".join(win_path(p) for p in paths).encode("utf-8").hex()))

    def close(self, wins, ways=None):  # each window its way (OK unless told); each process must end with status 1
        ways = ways or ["ok"] * len(wins)
        pids = [self.cmd("close %s %s" % (w["hwnd"], way)).split()[1] for w, way in zip(wins, ways)]
        for w in [w for w, way in zip(wins, ways) if way == "x"]:
            self.xdnd(w)  # what a window manager's close box sends
        for pid, way in zip(pids, ways):
            status = until(lambda: (r := self.cmd("exit " + pid)) != "exit 259" and r,
                           "closed by %s, the process still runs" % way)
            check(status == "exit 1", "closed by %s: %s, expected exit 1" % (way, status))


def make_files(d):  # the files of the cases, each with what a window shows for it (the type name aside)
    bmp = b"BM" + struct.pack("<IIIIiiHHII", 3654, 0, 54, 40, 40, 30, 1, 24, 0, 3600) + bytes(3616)
    pxa = b"Pixia" + bytes(223) + struct.pack("<II", 1280, 960) + bytes(64)
    grey = ("33 Byte", "64 × 48 Pixel", "256 色")
    files = {"bmp": ("cat.bmp", bmp, "3.57 KByte ( 3,654 Byte )", "40 × 30 Pixel", "24 ビットカラー"),
             "pxa": ("third long name.pxa", pxa, "300 Byte", "1,280 × 960 Pixel", "24 ビットカラー"),
             "kanji": ("表ソ能.png", png_of(33), "33 Byte", "33 × 17 Pixel", "256 色"),
             "first": ("写真 2025.jpeg", JPEG, *grey), "jpeg": ("photo 2024.jpeg", JPEG, *grey),
             "photo": ("my photos/photo.jpeg", JPEG, *grey),
             "x": ("my photos/x.png", png_of(41), "33 Byte", "41 × 17 Pixel", "256 色"),
             "p00": ("p00.png", png_of(33), None, None, None),  # what the pattern p0?.png would match
             "COM1": ("COM1", None, "0 Byte", NO, NO), "AUX": ("AUX", None, "0 Byte", NO, NO)}  # as the shell says
    f = {k: shown(os.path.basename(name), *facts, path=data and write(os.path.join(d, name), data))
         for k, (name, data, *facts) in files.items()}
    for k in ("photo", "x"):  # the very same files, in a folder whose name holds no blank
        f[k + "_plain"] = dict(f[k], path=os.path.join(d, "photos", f[k]["name"]))
        os.makedirs(os.path.dirname(f[k + "_plain"]["path"]), exist_ok=True)
        os.link(f[k]["path"], f[k + "_plain"]["path"])
    f["photos"] = {"path": os.path.join(d, "photos")}
    f["missing"] = dict(MISSING, path=os.path.join(d, "missing.png"))
    f["device_path"] = dict(f["bmp"], **{k: MISSING[k] for k in ("type", "scale", "colors")})
    # Dropped paths too long for the drop's buffers: one of 2,051 bytes whose first 2,047 name a BMP
    # (what a cut path would show), and one in double-byte names, too long in bytes only.
    cut = os.path.join(d, *["d" * 200] * 9)
    cut = write(os.path.join(cut, "n" * (2042 - len(win_path(cut))) + ".bmp"), bmp)
    f["long"] = dict(MISSING, path=write(cut + "long", bmp))
    f["long_dbcs"] = dict(f["kanji"], path=write(os.path.join(d, *["表" * 80] * 13, "g.png"), png_of(33)))
    for name, path in write_names(os.path.join(d, "names"), png_of(0)).items():
        f[name] = shown(NAMES[name][1], "33 Byte", "%d × 17 Pixel" % NAMES[name][0], "256 色", path=path)
    return f


# Command lines (%(key)s is that file's Windows path), then what the windows of the instances show, in the
# order they start. Each rest of a plain command line goes to the next instance unchanged.
CHAINS = [
    # AUX is COM1; under \\.\ a file is never opened (the shell does not know it, the search does); a tab hands
    # nothing on.
    (" %(missing)s COM1.jpg AUX.png \\\\.\\%(bmp)s p0?.png %(bmp)s\t%(kanji)s",
     ["missing", "COM1", "AUX", "device_path", BAD_NAME, "bmp"]),
    (" 表ソ能.png \"%(jpeg)s\"", ["kanji", "jpeg"]),  # a lead byte first; a quoted path with blanks, long name
    (" %(bmp)s ", ["bmp", NO_FILE]),
    (' "%(missing)s"', [NO_FILE]),
    # Each name reaches its own file; a neighbour's width would show if a name were converted by likeness.
    (" %(café.png)s %(😀.png)s %(𠮷.png)s %(한국.png)s %(a¥b.png)s \"%(x‾y.png)s\"", list(NAMES)),
    (' "%(a¥b.png)s"', ["a¥b.png"]), (' "%(café.png)s"', ["café.png"]),
    # photo.jpeg in a folder whose name holds a blank, on every road (quoted or linked where no blank is);
    # x.png. and "x.png " reach x.png, as the system opens them.
    (' "%(photo)s" "%(x)s." "%(x)s "', ["photo", "x", "x"]),
    (' %(photo_plain)s "%(photo)s"  %(x_plain)s.', ["photo_plain", "photo", "x"]),
    # A trailing separator names the folder before it: a drive's root as written, C:\windows\ plain, a folder quoted.
    (' C:\\ C:\\windows\\ "%(photos)s\\"', [shown(n, "0 Byte") for n in ("C:", "windows", "photos")]),
]
# Files dropped together on a window without a file: the first shows there, each further gets an instance.
DROPS = [["a¥b.png", "café.png", "😀.png", "𠮷.png", "한국.png", "x‾y.png"], ["photo", "x"], ["x", "photo"]]


def launch_and_expect(s, tail, wants):  # a window for each of `wants`, in order, each showing it
    s.launch(tail)
    wins = s.settle(len(wants), "command line %r" % tail)
    for n, (w, want) in enumerate(zip(wins, wants)):
        expect(w, want, "command line %r, instance %d" % (tail, n + 1))
    s.close(wins, WAYS if len(wins) == len(WAYS) else None)


def command_lines(s, f):
    paths = {k: win_path(v["path"]) for k, v in f.items() if v.get("path")}
    for tail, wants in CHAINS:
        launch_and_expect(s, tail % paths, [f[w] if isinstance(w, str) else w for w in wants])


def drops(s, f, count=500):
    """DROPS; the window without a file and its icons; a first drop replacing all a window shows, further files
    each getting an instance unless too long to hand on whole; `count` drops each shown, nothing kept."""
    for keys in DROPS:
        s.launch("")
        (w,) = s.settle(1, "started without a file")
        s.xdnd(w, *[f[k]["path"] for k in keys])
        s.shows(w, f[keys[0]]["name"], "dropped %s" % keys)
        wins = s.settle(len(keys), "dropped %s" % keys)
        for w, k in zip(wins, keys):
            expect(w, f[k], "dropped %s, %s" % (keys, k))
        s.close(wins)
    s.launch("")
    (w,) = s.settle(1, "started without a file")
    expect(w, NO_FILE, "started without a file")
    shot = run(s.env, "import", "-window", "root", "-crop", w["rect"], "-depth", "8", "rgb:-")
    check(green(zip(shot[0::3], shot[1::3], shot[2::3])) > 100, "the icon field does not show the program's icon")
    icon = s.xprop(w, "_NET_WM_ICON")
    check(icon[:2] == [32, 32] and green((p >> 16 & 255, p >> 8 & 255, p & 255) for p in icon[2:1026]) > 100,
          "the window's big icon is not the program's icon")
    s.launch(" " + win_path(f["bmp"]["path"]))
    before = s.settle(2, "started with a file")[1]
    s.xdnd(before, *[f[k]["path"] for k in ("first", "jpeg", "pxa", "long_dbcs")])
    now = s.shows(before, f["first"]["name"], "dropped")
    expect(now, f["first"], "dropped")
    same = [k for k in FIELDS + ("icon",) if before[k] == now[k]]
    check(not same, "the drop left the %s as it was" % same)
    for instance, k in zip(s.settle(4, "dropped")[2:], ("jpeg", "pxa")):
        expect(instance, f[k], "dropped, the instance for " + k)
    unix = "/proc/%d/status" % s.xprop(w, "_NET_WM_PID")[0]
    icons, memory = [], []
    for n in range(count):
        # A path too long for the drop's buffer is shown as missing, not cut; as a further file it gets no window.
        name = "drop%03d.bmp" % n
        s.xdnd(w, *[write(os.path.join(s.tmp, "drops", name), b"BM" + bytes(52))] * (n > 0), f["long"]["path"])
        now = s.shows(w, name if n else MISSING["name"], "drop %d" % n)
        if n == 0:
            expect(now, MISSING, "dropped a path too long for the drop")
            check(now["fg"] == "1", "the window did not come to the foreground after a drop")
        icons.append(int(now["icon"], 16))
        if n in (50, count - 1):
            with open(unix) as status:
                memory.append(int(re.search(r"RssAnon:\s*(\d+)", status.read())[1]))
    s.settle(4, "after %d drops" % count)
    # Wine's user handles are a table slot (low 16 bits) and a generation: only icons kept take new slots.
    slots = len({h & 0xFFFF for h in icons})
    print("    %d drops: %d icon slots, %d KB more memory after the 51st" % (count, slots, memory[1] - memory[0]))
    check(slots <= 25, "%d icon slots for %d drops: the replaced icons are not released" % (slots, count))
    check(memory[1] - memory[0] < 200, "%d KB more memory over %d drops" % (memory[1] - memory[0], count - 51))


def unreadable(s, f):
    """A PNG held open without sharing, named or dropped, shows placeholders for its header, never 未サポート."""
    path = write(os.path.join(s.dir, "held", "held.png"), png_of(33))
    held = dict(UNKNOWN, caption="held.png - " + PLAIN, name="held.png", size="33 Byte")  # and a type name
    s.hold(path)  # until the "killall" after each case
    s.launch(' "%s"' % win_path(path))
    (w,) = s.settle(1, "started with a held file")
    expect(w, held, "started with a held file")
    s.xdnd(w, f["bmp"]["path"])
    s.shows(w, f["bmp"]["name"], "dropped")
    s.xdnd(w, path)
    expect(s.shows(w, "held.png", "dropped a held file"), held, "dropped a held file")
    s.close([w])


def settle_by_name(s, wants, what, ignore=()):  # as settle, the windows found by name as pids wrap
    wins = {w["name"]: w for w in s.settle(len(wants), what)}
    for want in wants:
        check(want["name"] in wins, "%s: no window shows %r, only %s" % (what, want["name"], list(wins)))
        expect(wins[want["name"]], dict(want, **{k: wins[want["name"]][k] for k in ignore}), what)
    return wins


def dots(d):  # make_dots' files that keep their endings, which no detector takes by their extension
    p, facts = make_dots(d), {"x.png.": ("43 Byte",), "y.png ": ("53 Byte",), "tail.png.": ("63 Byte",),
                              "dir./in.png": ("33 Byte", "65 × 17 Pixel", "256 色")}
    return {k: shown(os.path.basename(k), *v, path=p[k]) for k, v in facts.items()}


def listed_names(s, f):
    """A dropped name reaches the file the system listed, dropped first or further (handed on as \\\\?\\)."""
    d = dots(os.path.join(s.tmp, "dots"))
    s.launch("")
    (w,) = s.settle(1, "started without a file")
    order = ["x.png.", "y.png ", "dir./in.png", "tail.png."]
    s.dropfiles(w, *[d[k]["path"] for k in order])
    s.shows(w, "x.png.", "dropped x.png.")
    wins = settle_by_name(s, [d[k] for k in order], "dropped the dots and blanks")
    s.dropfiles(wins["x.png."], d["dir./in.png"]["path"])
    expect(s.shows(wins["x.png."], "in.png", "dropped dir./in.png"), d["dir./in.png"], "dropped dir./in.png first")
    s.close(list(wins.values()))
    launch_and_expect(s, ' "\\\\?\\%s"' % win_path(d["y.png "]["path"]), [d["y.png "]])


def short_form(s, f):
    """A quoted path of 260 bytes or more is read through its short form, a dropped x.png. there too (type aside:
    Wine's shell knows no short path)."""
    d = os.path.join(s.tmp, "long", "l" * 120, "m" * 120)
    png = shown("long.png", "33 Byte", "67 × 17 Pixel", "256 色", path=write(os.path.join(d, "long.png"), png_of(67)))
    tail = ' "%s"' % win_path(png["path"])
    check(len(tail.encode()) >= 262, "the long path is too short")
    s.launch(tail)
    (w,) = settle_by_name(s, [png], "a quoted path of %d bytes" % (len(tail) - 3), ["type"]).values()
    s.dropfiles(w, png["path"], dots(d)["x.png."]["path"])
    s.close(list(settle_by_name(s, [png, dots(d)["x.png."]], "dropped into a long folder", ["type"]).values()))


def console(s, f):
    """qvrc.exe on a console of another code page shows what it writes redirected, and its progress line."""
    def on_console(*args, way="all", cp=437):
        command = '"%s" %s' % (win_path(s.qvrc), " ".join(args))
        reply = s.cmd("console %d %s %s" % (cp, way, command.encode("utf-8").hex())).split(" ") + ["", ""]
        check(reply[0] == "console", "console: %r" % reply)
        return int(reply[1]), *(bytes.fromhex(h).decode("utf-8") for h in reply[2:4])

    names = ("表ソ能.png", "無い😀¥.png")
    for args in (names, ("--json",) + names):
        done = subprocess.run([s.wine, s.qvrc, *args], env=s.env, cwd=s.dir, capture_output=True, timeout=60)
        text = done.stdout.decode("utf-8" if "--json" in args else "cp932") + done.stderr.decode("cp932")
        want = done.returncode, text.replace("\r\n", "\n").rstrip("\n")
        check("qvrc: 無い?￥.png: no such file" in want[1] and "表ソ能.png" in want[1], "redirected: %r" % (want,))
        for cp in (437, 65001):
            got = on_console(*args, cp=cp)[:2]
            check(got == want, "console, code page %d, %s: %r, expected %r" % (cp, args, got, want))
    for n in range(1500):
        write(os.path.join(s.dir, "写真の山", "束%d" % (n // 100), "%d.png" % n), b"")
    status, screen, seen = on_console("-r", "写真の山", way="err")
    progress = [line for line in seen.split("\n") if re.match(r"\d+ files, \d+/s, in 写真の山\\束\d+$", line)]
    check((status, screen) == (0, "") and progress, "progress line: exit status %d, %r, lines seen %r" % (
        status, screen, seen.split("\n")[:5]))


CASES = {f.__name__: f for f in (command_lines, drops, listed_names, short_form, console, unreadable)}


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    for name in ("exe", "driver", "xdnd", "qvrc"):
        ap.add_argument("--" + name, required=True, type=os.path.abspath)
    ap.add_argument("cases", nargs="*", help="some of %s (default: all)" % ", ".join(CASES))
    args, tmp, s = ap.parse_args(), tempfile.mkdtemp(prefix="qvr-e2e-"), None
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)  # a free display of its own

    def call(case):
        opened(s.port)  # forget what a failed case before may have left
        try:
            case(s, files)
            check(not opened(s.port), "the program opened a COM or LPT port")
        finally:
            s.cmd("killall")
    try:
        files, s = make_files(os.path.join(tmp, "files")), Session(args, tmp, xvfb)
        return run_cases(CASES, args.cases, call)
    finally:
        if s:
            s.process.kill()
            subprocess.run([WINESERVER, "-k"], env=s.env, timeout=30)
        xvfb.terminate()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
