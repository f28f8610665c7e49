#!/usr/bin/env python3
"""End-to-end tests of the Windows program: what only its windows show. The release build runs under
Wine (wine_build.py) on a private Xvfb display, in one fresh Wine prefix for the whole run, started and
read by the dialog driver (a Win32 helper) and fed real drops through XDND. Every wait is bounded; the
exit status is 1 when a case fails. What the probe makes of each file is compare_cli.py's part."""
import argparse
import ctypes
import os
import queue
import re
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

from wine_build import WINESERVER, choose

FIELDS = ("caption", "name", "type", "size", "scale", "colors")
PLAIN = "QVR Version 1.0"
UNKNOWN = {"caption": PLAIN, "size": "??? Byte", "scale": "??? × ??? Pixel", "colors": "??? 色"}
NO_FILE = dict(UNKNOWN, name="ファイルをドロップしてください。", type="画像情報取得ツール " + PLAIN)
BAD_NAME = dict(UNKNOWN, name="ファイル名が不正です。")
MISSING = dict(BAD_NAME, type="ファイルタイプを取得できません。")  # neither the shell nor the search knows it
NO = "未サポート"
WAYS = ("ok", "escape", "enter", "closebox", "notified", "x")  # the driver's ways of closing, and X's


class Failure(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Failure(message() if callable(message) else message)


def until(probe, message, timeout=20):
    """Polls until probe() gives a true value, and returns it."""
    deadline = time.time() + timeout
    while not (value := probe()):
        check(time.time() < deadline, message)
        time.sleep(0.02)
    return value


def run(env, *command, timeout=60):
    done = subprocess.run(command, env=env, timeout=timeout, capture_output=True)
    check(done.returncode == 0, lambda: "%s: %s" % (os.path.basename(command[0]), done.stderr.decode().strip()))
    return done.stdout


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_prefix(tmp, wine, display=None):
    """Makes a fresh Wine prefix in tmp; returns the environment for it. A fresh prefix maps COM1 to
    the machine's first serial port, which may be its console: here every COM and LPT port leads to
    the FIFO tmp/port instead, which nobody writes."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WINESERVER")}
    env.update(WINEPREFIX=os.path.join(tmp, "prefix"), WINEDEBUG="-all", LC_ALL="ja_JP.UTF-8",
               WINEDLLOVERRIDES="mscoree,mshtml=", **({"DISPLAY": display} if display else {}))  # no installers
    run(env, wine, "wineboot", "-i", timeout=180)
    os.mkfifo(os.path.join(tmp, "port"))
    ports = "".join('"%s%d"="%s"\r\n' % (p, n, os.path.join(tmp, "port")) for p in ("COM", "LPT") for n in range(1, 10))
    reg = write(os.path.join(tmp, "ports.reg"), ("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n"
                                                 + ports).encode())
    run(env, wine, "regedit", "/s", win_path(reg))
    run(env, WINESERVER, "-w", timeout=120)
    return env


def expect(w, want, what):
    """The window shows `want`; without a type in `want`, some type name of the shell."""
    wrong = ["%s %r, expected %r" % (k, w[k], want[k]) for k in FIELDS if k in want and w[k] != want[k]]
    if "type" not in want and w["type"] in ("", MISSING["type"]):
        wrong.append("no type name of the shell: %r" % w["type"])
    check(not wrong, "%s: %s" % (what, "; ".join(wrong)))


def green(pixels):
    """How many of the (r, g, b) pixels are the ruler green of the program's icon."""
    return sum(g >= 200 and g > r + 40 and g > b + 40 for r, g, b in pixels)


class Session:
    """Xvfb, the Wine prefix and the dialog driver, for the whole run."""

    def __init__(self, args):
        self.args, self.tmp, self.lines = args, tempfile.mkdtemp(prefix="qvr-e2e-"), queue.Queue()
        self.dir, self.port, self.xvfb, self.driver = os.path.join(self.tmp, "files"), None, None, None

    def start(self):
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)  # a free display of its own
        wine, (exe, driver, self.qvrc) = choose(self.args.exe, self.args.driver, self.args.qvrc)
        self.wine, self.env = wine, wine_prefix(self.tmp, wine, ":" + self.xvfb.stdout.readline().decode().strip())
        self.driver = subprocess.Popen([wine, driver, win_path(exe), win_path(self.dir)],
                                       env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        threading.Thread(target=lambda: [*map(self.lines.put, self.driver.stdout), self.lines.put(b"")],
                         daemon=True).start()
        check(self.lines.get(timeout=60).strip() == b"ready", "the dialog driver did not start")
        com1, port = os.path.join(self.tmp, "prefix", "dosdevices", "com1"), os.path.join(self.tmp, "port")
        until(lambda: os.path.realpath(com1) == port, "COM1 of the prefix is not the FIFO")
        libc = ctypes.CDLL(None, use_errno=True)  # every open of the FIFO from now on (inotify, IN_OPEN)
        self.port = libc.inotify_init1(os.O_NONBLOCK)
        check(libc.inotify_add_watch(self.port, port.encode(), 0x20) >= 0, "cannot watch the FIFO")

    def port_opened(self):
        return bool(select.select([self.port], [], [], 0)[0]) and len(os.read(self.port, 4096)) > 0

    def stop(self):
        if self.driver:
            self.driver.kill()
            subprocess.run([WINESERVER, "-k"], env=self.env, timeout=30)
        if self.xvfb:
            self.xvfb.terminate()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def cmd(self, text):
        self.driver.stdin.write(text.encode("ascii") + b"\n")
        self.driver.stdin.flush()
        try:
            reply = self.lines.get(timeout=30).decode("ascii").strip()
        except queue.Empty:
            raise Failure("the dialog driver did not answer %s" % text)
        check(reply and not reply.startswith("err"), "driver: %s -> %r" % (text, reply))
        return reply

    def launch(self, tail):
        """Starts the program with the exact command line "<exe>" + tail."""
        self.cmd("launch " + tail.encode("utf-8").hex())

    def windows(self):
        """The number of the program's processes, and its visible windows as the driver reads them."""
        procs, *found = self.cmd("list").split(" ; ")
        return int(procs), [{k: bytes.fromhex(v).decode("cp932") if k in FIELDS else v
                             for k, _, v in (kv.partition("=") for kv in w.split())} for w in found]

    def settle(self, count, what):
        """Waits for `count` windows, one per process, that stay alone for a second (no further
        instance comes); returns them in the order their processes were created."""
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

    def shows(self, w, name, what):
        """Waits until the window shows `name`; returns it as it is then."""
        now = {}
        def probe():
            now.update(([x for x in self.windows()[1] if x["hwnd"] == w["hwnd"]] or [{"name": "(closed)"}])[0])
            return now["name"] == name and dict(now)
        return until(probe, lambda: "%s: the window shows %r, not %r" % (what, now["name"], name), 10)

    def xprop(self, w, prop):
        """The 32-bit numbers of a property of the window's X window."""
        out = run(self.env, "xprop", "-id", str(int(w["xid"], 16)), "-notype", "32c", prop).decode()
        return [int(n) for n in re.findall(r"\d+", out.partition("=")[2])]

    def xdnd(self, w, *paths):
        run(self.env, self.args.xdnd, str(int(w["xid"], 16)), *paths)

    def dropfiles(self, w, *paths):
        """The drop of these Unix paths as Windows lists them: WM_DROPFILES from the driver (see DropFiles)."""
        self.cmd("dropfiles %s %s" % (w["hwnd"], "\n".join(win_path(p) for p in paths).encode("utf-8").hex()))

    def close(self, wins, ways):
        """Closes each window its way; each process must end with status 1."""
        pids = [self.cmd("close %s %s" % (w["hwnd"], way)).split()[1] for w, way in zip(wins, ways)]
        for w in [w for w, way in zip(wins, ways) if way == "x"]:
            self.xdnd(w)  # what a window manager's close box sends
        for pid, way in zip(pids, ways):
            status = until(lambda: (r := self.cmd("exit " + pid)) != "exit 259" and r,
                           "closed by %s, the process still runs" % way)
            check(status == "exit 1", "closed by %s: %s, expected exit 1" % (way, status))


def make_files(d):
    """The files of the cases, each with what a window shows for it (the type name aside)."""
    bmp = b"BM" + struct.pack("<IIIIiiHHII", 3654, 0, 54, 40, 40, 30, 1, 24, 0, 3600) + bytes(3616)
    pxa = b"Pixia" + bytes(223) + struct.pack("<II", 1280, 960) + bytes(64)
    png = b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR" + struct.pack(">IIBB", 33, 17, 8, 3) + bytes(7)  # palette, 8 bits
    jpeg = b"\xff\xd8\xff\xe0\0\x10JFIF\0\1\1\0\0\1\0\1\0\0\xff\xc0\0\x0b\x08\0\x30\0\x40\x01" + bytes(3)  # grey
    files = {"bmp": ("cat.bmp", bmp, "3.57 KByte ( 3,654 Byte )", "40 × 30 Pixel", "24 ビットカラー"),
             "pxa": ("third long name.pxa", pxa, "300 Byte", "1,280 × 960 Pixel", "24 ビットカラー"),
             "kanji": ("表ソ能.png", png, "33 Byte", "33 × 17 Pixel", "256 色"),
             "first": ("写真 2025.jpeg", jpeg, "33 Byte", "64 × 48 Pixel", "256 色"),
             "jpeg": ("photo 2024.jpeg", jpeg, "33 Byte", "64 × 48 Pixel", "256 色"),
             "photo": ("my photos/photo.jpeg", jpeg, "33 Byte", "64 × 48 Pixel", "256 色"),
             "x": ("my photos/x.png", png[:16] + struct.pack(">I", 41) + png[20:], "33 Byte", "41 × 17 Pixel", "256 色"),
             "p00": ("p00.png", png, None, None, None),  # what the pattern p0?.png would match
             "COM1": ("COM1", None, "0 Byte", NO, NO), "AUX": ("AUX", None, "0 Byte", NO, NO)}  # as the shell says
    f = {k: {"path": data and write(os.path.join(d, name), data), "caption": os.path.basename(name) + " - " + PLAIN,
             "name": os.path.basename(name), "size": size, "scale": scale, "colors": colors}
         for k, (name, data, size, scale, colors) in files.items()}
    # The very same files, in a folder whose name holds no blank.
    os.makedirs(os.path.join(d, "photos"))
    for k in ("photo", "x"):
        f[k + "_plain"] = dict(f[k], path=os.path.join(d, "photos", f[k]["name"]))
        os.link(f[k]["path"], f[k + "_plain"]["path"])
    f["missing"] = dict(MISSING, path=os.path.join(d, "missing.png"))
    # Under \\.\ a file is never opened; the shell knows no such path, the file search does.
    f["device_path"] = dict(f["bmp"], **{k: MISSING[k] for k in ("type", "scale", "colors")})
    # Dropped paths too long for the drop's buffers: one of 2,051 bytes whose first 2,047 name a BMP
    # (what a cut path would show), and one in double-byte names, too long in bytes only.
    cut = os.path.join(d, *["d" * 200] * 9)
    cut = write(os.path.join(cut, "n" * (2042 - len(win_path(cut))) + ".bmp"), bmp)
    f["long"] = dict(MISSING, path=write(cut + "long", bmp))
    f["long_dbcs"] = dict(f["kanji"], path=write(os.path.join(d, *["表" * 80] * 13, "g.png"), png))
    for name, path in write_names(os.path.join(d, "names"), png).items():
        width, shown = NAMES[name]
        f[name] = {"path": path, "caption": "%s - %s" % (shown, PLAIN), "name": shown, "scale": "%d × 17 Pixel" % width}
    return f


# Names code page 932 cannot hold, or holds only by likeness (é as e, ¥ as the separator 0x5C, ‾ as ~): width,
# shown name. Each has a neighbour such a conversion would reach; every file is of its own width.
NAMES = {"café.png": (31, "caf?.png"), "😀.png": (32, "?.png"), "𠮷.png": (33, "?.png"), "한국.png": (34, "??.png"),
         "a¥b.png": (35, "a￥b.png"), "x‾y.png": (36, "x￣y.png")}
NEIGHBOURS = {"a/b.png": 99, "x~y.png": 88, "cafe.png": 77}


def write_names(folder, png):
    """Writes the files of NAMES and NEIGHBOURS into folder, the PNG header `png` with each width; returns
    the paths of NAMES."""
    widths = dict(NEIGHBOURS, **{n: w for n, (w, _) in NAMES.items()})
    paths = {n: write(os.path.join(folder, n), png[:16] + struct.pack(">I", w) + png[20:]) for n, w in widths.items()}
    return {n: paths[n] for n in NAMES}


# Command lines: tail ({key} is that file's Windows path), then what the windows of the instances show,
# in the order they start. Each rest of a plain command line goes to the next instance unchanged.
CHAINS = [
    (" {missing} COM1.jpg AUX.png \\\\.\\{bmp} p0?.png {bmp}\t{kanji}",  # AUX is COM1; a tab hands nothing on
     ["missing", "COM1", "AUX", "device_path", BAD_NAME, "bmp"]),
    (" 表ソ能.png \"{jpeg}\"", ["kanji", "jpeg"]),  # a lead byte first; a quoted path with blanks, long name
    (" {bmp} ", ["bmp", NO_FILE]),
    (' "{missing}"', [NO_FILE]),
]


def command_lines(s, f):
    paths = {k: win_path(v["path"]) for k, v in f.items() if v["path"]}
    for tail, wants in CHAINS:
        s.launch(tail.format(**paths))
        wins = s.settle(len(wants), "command line %r" % tail)
        for n, (w, want) in enumerate(zip(wins, wants)):
            expect(w, f[want] if isinstance(want, str) else want, "command line %r, instance %d" % (tail, n + 1))
        s.close(wins, WAYS if len(wins) == len(WAYS) else ["ok"] * len(wins))


def drops(s, f, count=500):
    """The window without a file and its icons; then a window that shows a file, and files dropped on
    it: the first, under its long name, replaces all it shows; each further one gets an instance, in
    the order of the drop, unless its path is too long to hand on whole. Then `count` drops one at a
    time onto the first window, behind the others: each shows, the window comes to the front, nothing
    is kept from a drop."""
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
        # First a path too long for the drop's buffer, shown as missing, not cut; then each drop also
        # brings it as a further file, which gets no window.
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
    # Wine's user handles are a table slot (low 16 bits) and a generation count: a released icon frees
    # its slot for the next one, while a kept one would take a new slot on every drop.
    slots = len({h & 0xFFFF for h in icons})
    print("    %d drops: %d icon slots, %d KB more memory after the 51st" % (count, slots, memory[1] - memory[0]))
    check(slots <= 25, "%d icon slots for %d drops: the replaced icons are not released" % (slots, count))
    # A drop's path list that is not released adds 4 KB per drop here.
    check(memory[1] - memory[0] < 200, "%d KB more memory over %d drops" % (memory[1] - memory[0], count - 51))


def launch_and_expect(s, f, tail, keys):
    """Starts the program with `tail` after its name: one window for each of `keys`, each showing its file."""
    s.launch(tail)
    wins = s.settle(len(keys), "command line %r" % tail)
    for w, k in zip(wins, keys):
        expect(w, f[k], "command line %r, %s" % (tail, k))
    s.close(wins, ["ok"] * len(wins))


def unicode_names(s, f):
    """Each name of NAMES reaches its own file: plain and quoted on the command line, dropped first and
    further; a neighbour's width would show in its place if a name were converted by likeness."""
    p = {k: win_path(f[k]["path"]) for k in NAMES}
    *plain, last = NAMES
    for tail, keys in [(" %s \"%s\"" % (" ".join(p[k] for k in plain), p[last]), list(NAMES)),
                       (' "%s"' % p["a¥b.png"], ["a¥b.png"]), (' "%s"' % p["café.png"], ["café.png"])]:
        launch_and_expect(s, f, tail, keys)
    s.launch("")
    dropped = ["a¥b.png", "café.png", "😀.png", "𠮷.png", "한국.png", "x‾y.png"]
    (w,) = s.settle(1, "started without a file")
    s.xdnd(w, *[f[k]["path"] for k in dropped])
    s.shows(w, f[dropped[0]]["name"], "dropped")
    wins = s.settle(len(dropped), "dropped")
    for w, k in zip(wins, dropped):
        expect(w, f[k], "dropped " + k)
    s.close(wins, ["ok"] * len(wins))


def roads(s, f):
    """photo.jpeg, in a folder whose name holds a blank, shows the same on every road: named plainly (the
    same file, linked into a folder without a blank), quoted alone and among other paths, dropped first and
    further. x.png. and "x.png " reach x.png, as the system opens them: they show x.png."""
    p = {k: win_path(f[k]["path"]) for k in ("photo", "photo_plain", "x", "x_plain")}
    for tail, keys in [(' "%s"' % p["photo"], ["photo"]),
                       (' "%s" "%s." "%s "' % (p["photo"], p["x"], p["x"]), ["photo", "x", "x"]),
                       (' %s "%s"  %s.' % (p["photo_plain"], p["photo"], p["x_plain"]), ["photo_plain", "photo", "x"])]:
        launch_and_expect(s, f, tail, keys)
    s.launch("")
    (w,) = s.settle(1, "started without a file")
    s.xdnd(w, f["photo"]["path"], f["x"]["path"])
    expect(s.shows(w, "photo.jpeg", "dropped first"), f["photo"], "photo.jpeg dropped first")
    s.xdnd(w, f["x"]["path"], f["photo"]["path"])
    s.shows(w, "x.png", "dropped first")
    wins = s.settle(3, "dropped twice")
    for n, (w, k) in enumerate(zip(wins, ["x", "x", "photo"])):
        expect(w, f[k], "dropped, window %d" % (n + 1))
    s.close(wins, ["ok"] * len(wins))


def unreadable(s, f):
    """A PNG another program holds open without sharing cannot be read: named on the command line or dropped, its
    window shows its name, type and size, and placeholders for what its header would say, never 未サポート."""
    png = open(f["kanji"]["path"], "rb").read()
    path = write(os.path.join(s.dir, "held", "held.png"), png)
    held = dict(UNKNOWN, caption="held.png - " + PLAIN, name="held.png", size="%d Byte" % len(png))  # and a type name
    s.cmd("hold " + win_path(path).encode("utf-8").hex())
    try:
        s.launch(' "%s"' % win_path(path))
        (w,) = s.settle(1, "started with a held file")
        expect(w, held, "started with a held file")
        s.xdnd(w, f["bmp"]["path"])
        s.shows(w, f["bmp"]["name"], "dropped")
        s.xdnd(w, path)
        expect(s.shows(w, "held.png", "dropped a held file"), held, "dropped a held file")
        s.close([w], ["ok"])
    finally:
        s.cmd("release")


JPEG = b"\xff\xd8\xff\xe0\0\x10JFIF\0\1\1\0\0\1\0\1\0\0\xff\xc0\0\x0b\x08\0\x30\0\x40\x01" + bytes(3)  # 64 × 48, grey


def png_of(width, pad=0):
    """A PNG header of the given width, 17 pixels high, 256 colours; `pad` zero bytes after it."""
    return b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR" + struct.pack(">IIBB", width, 17, 8, 3) + bytes(7 + pad)


def listed(path, size, scale=NO, colors=NO):
    """What a window shows for a file: its own name, the shell's type, its size, scale and colours."""
    name = os.path.basename(path)
    return {"path": path, "caption": name + " - " + PLAIN, "name": name, "size": size, "scale": scale, "colors": colors}


def make_dots(d):
    """Names the system lists but trims when they are typed, each beside the name it would be trimmed to:
    x.png. (a JPEG) beside the PNG x.png, "y.png " beside y.png, dir.\\in.png beside dir\\in.png. Listed
    names keep their endings, so no detector takes them by their extension."""
    files = {"x.png": png_of(61), "x.png.": JPEG + bytes(10), "y.png": png_of(62), "y.png ": png_of(63, 20),
             "dir/in.png": png_of(64), "dir./in.png": png_of(65), "tail.png.": png_of(66, 30)}
    paths = {name: write(os.path.join(d, name), data) for name, data in files.items()}
    return {"x.png.": listed(paths["x.png."], "43 Byte"), "y.png ": listed(paths["y.png "], "53 Byte"),
            "tail.png.": listed(paths["tail.png."], "63 Byte"),
            "dir./in.png": listed(paths["dir./in.png"], "33 Byte", "65 × 17 Pixel", "256 色")}


def settle_by_name(s, wants, what, ignore=()):
    """Waits for a window per entry of `wants`, each showing its file (fields named in `ignore` aside); finds
    them by the name shown, as the order of their processes can wrap with the pids. Returns them by name."""
    wins = {w["name"]: w for w in s.settle(len(wants), what)}
    for want in wants:
        check(want["name"] in wins, "%s: no window shows %r, only %s" % (what, want["name"], list(wins)))
        expect(wins[want["name"]], dict(want, **{k: wins[want["name"]][k] for k in ignore}), what)
    return wins


def listed_names(s, f):
    """A dropped name reaches the file the system listed, where the same name typed would be trimmed to
    another: dropped first, each shows its own name and file; dropped further, each opens a window that
    shows it (the new instance takes the exact form it is handed, as a typed quoted \\\\?\\ path)."""
    dots = make_dots(os.path.join(s.tmp, "dots"))
    s.launch("")
    (w,) = s.settle(1, "started without a file")
    order = ["x.png.", "y.png ", "dir./in.png", "tail.png."]
    s.dropfiles(w, *[dots[k]["path"] for k in order])
    s.shows(w, "x.png.", "dropped x.png.")
    wins = settle_by_name(s, [dots[k] for k in order], "dropped the dots and blanks")
    s.dropfiles(wins["x.png."], dots["dir./in.png"]["path"])
    expect(s.shows(wins["x.png."], "in.png", "dropped dir./in.png"), dots["dir./in.png"], "dropped dir./in.png first")
    s.close(list(wins.values()), ["ok"] * len(wins))
    launch_and_expect(s, dots, ' "\\\\?\\%s"' % win_path(dots["y.png "]["path"]), ["y.png "])


def trailing_separators(s, f):
    """A trailing separator names the folder before it, as the shell answers for it: a drive's root (named
    as written), C:\\windows\\ plain, and a folder quoted."""
    tail = ' C:\\ C:\\windows\\ "%s\\"' % win_path(os.path.dirname(f["photo_plain"]["path"]))
    s.launch(tail)
    wins = settle_by_name(s, [dict(caption=name + " - " + PLAIN, name=name, size="0 Byte", scale=NO, colors=NO)
                              for name in ("C:", "windows", "photos")], "command line %r" % tail)
    s.close(list(wins.values()), ["ok"] * len(wins))


def short_form(s, f):
    """A quoted path of 260 bytes or more is read through its short (8.3) form: a PNG shows its facts under
    its long name. A further dropped x.png. in such a folder is handed on in its exact form, as long, and
    shows the JPEG's name and size through the short form of that. (Wine's shell knows no short path: the
    type is not looked at.)"""
    d = os.path.join(s.tmp, "long", "l" * 120, "m" * 120)
    dots = make_dots(d)
    png = listed(write(os.path.join(d, "long.png"), png_of(67)), "33 Byte", "67 × 17 Pixel", "256 色")
    tail = ' "%s"' % win_path(png["path"])
    check(len(tail.encode()) >= 262, "the long path is too short")
    s.launch(tail)
    (w,) = settle_by_name(s, [png], "a quoted path of %d bytes" % (len(tail) - 3), ["type"]).values()
    s.dropfiles(w, png["path"], dots["x.png."]["path"])
    wins = settle_by_name(s, [png, dots["x.png."]], "dropped into a long folder", ["type"])
    s.close(list(wins.values()), ["ok"] * len(wins))


def console(s, f):
    """qvrc.exe on a console whose code page is not 932 shows what it shows redirected: labels, names and
    messages in text, JSON, and the progress line while it walks a folder with a Japanese name."""
    def run(*args, way="all", cp=437):
        command = '"%s" %s' % (win_path(s.qvrc), " ".join(args))
        reply = s.cmd("console %d %s %s" % (cp, way, command.encode("utf-8").hex())).split(" ") + ["", ""]
        check(reply[0] == "console", "console: %r" % reply)
        return int(reply[1]), *(bytes.fromhex(h).decode("utf-8") for h in reply[2:4])

    def redirected(*args):
        done = subprocess.run([s.wine, s.qvrc, *args], env=s.env, cwd=s.dir, capture_output=True, timeout=60)
        text = done.stdout.decode("utf-8" if "--json" in args else "cp932") + done.stderr.decode("cp932")
        return done.returncode, text.replace("\r\n", "\n").rstrip("\n")

    names = ("表ソ能.png", "無い😀¥.png")
    for args in (names, ("--json",) + names):
        want = redirected(*args)
        check("qvrc: 無い?￥.png: no such file" in want[1] and "表ソ能.png" in want[1], "redirected: %r" % (want,))
        for cp in (437, 65001):
            status, screen, _ = run(*args, cp=cp)
            check((status, screen) == want, "console, code page %d, %s: %r, expected %r" % (cp, args, (status, screen), want))
    folder = os.path.join(s.dir, "写真の山")
    for n in range(1500):
        write(os.path.join(folder, "束%d" % (n // 100), "%d.png" % n), b"")
    status, screen, seen = run("-r", "写真の山", way="err")
    progress = [line for line in seen.split("\n") if re.match(r"\d+ files, \d+/s, in 写真の山\\束\d+$", line)]
    check((status, screen) == (0, "") and progress, "progress line: exit status %d, %r, lines seen %r" % (
        status, screen, seen.split("\n")[:5]))


CASES = {"command_lines": command_lines, "drops": drops, "unicode_names": unicode_names, "roads": roads,
         "listed_names": listed_names, "trailing_separators": trailing_separators, "short_form": short_form,
         "console": console, "unreadable": unreadable}


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    for name in ("exe", "driver", "xdnd", "qvrc"):
        ap.add_argument("--" + name, required=True, type=os.path.abspath)
    ap.add_argument("cases", nargs="*", help="some of %s (default: all)" % ", ".join(CASES))
    args = ap.parse_args()
    s, failed, started = Session(args), [], time.time()
    try:
        files = make_files(s.dir)
        s.start()
        for name in args.cases or CASES:
            t = time.time()
            s.port_opened()  # forget what a failed case before may have left
            try:
                CASES[name](s, files)
                check(not s.port_opened(), "the program opened a COM or LPT port")
                print("PASS %-14s %5.1f s" % (name, time.time() - t), flush=True)
            except (Failure, subprocess.SubprocessError, OSError) as e:
                failed.append(name)
                print("FAIL %-14s %5.1f s: %s" % (name, time.time() - t, e), flush=True)
            s.cmd("killall")
    finally:
        s.stop()
    print("%s in %.1f s" % ("failed: " + ", ".join(failed) if failed else "all passed", time.time() - started))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
