#!/usr/bin/env python3
"""End-to-end tests of the Windows program under Wine.

Starts a private Xvfb display and one fresh Wine prefix for the whole run, drives the program with
the dialog driver (a Win32 helper running under Wine) and drops files onto it through XDND with
the Xlib drag source. Every wait is bounded; the exit status is non-zero when any case fails.
"""
import argparse
import ctypes
import decimal
import itertools
import os
import queue
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback

WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
UNKNOWN = {"size": "??? Byte", "scale": "??? × ??? Pixel", "colors": "??? 色"}
NO_FILE = {"caption": "QVR Version 1.0", "name": "ファイルをドロップしてください。",
           "type": "画像情報取得ツール QVR Version 1.0", **UNKNOWN}
BAD_NAME = {"caption": "QVR Version 1.0", "name": "ファイル名が不正です。", **UNKNOWN}
NO_TYPE = "ファイルタイプを取得できません。"
MISSING = dict(BAD_NAME, type=NO_TYPE)  # neither the shell nor the file search knows the path
UNSUPPORTED = "未サポート"
FIELDS = ("caption", "name", "type", "size", "scale", "colors")
QUIET = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}


class Failure(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Failure(message)


def log(text):
    print(text, flush=True)


def size_text(n):
    """The size field for a file of n bytes (files here stay below 1 MiB)."""
    if n < 1024:
        return "%d Byte" % n
    check(n < 1048576, "test file too large: %d" % n)
    value = decimal.Decimal(n) / 1024
    step = decimal.Decimal(1).scaleb(value.adjusted() - 2)
    scaled = value.quantize(step, rounding=decimal.ROUND_HALF_UP).normalize()
    return "%s KByte ( %s Byte )" % (format(scaled, "f"), format(n, ","))


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def image(path, scale, colors, size=None):
    """A test file and what the dialog must show for it (the type name is the shell's own)."""
    name = os.path.basename(path)
    return {"path": path, "caption": "%s - QVR Version 1.0" % name, "name": name,
            "size": size or size_text(os.path.getsize(path)), "scale": scale, "colors": colors}


def parse_info(line):
    """One window as the driver read it: the six texts decoded from code page 932, and its state."""
    check(line.startswith("info "), "driver: %s" % line)
    pairs = (word.partition("=") for word in line.split()[1:])
    return {k: bytes.fromhex(v).decode("cp932", "backslashreplace") if k in FIELDS else v for k, _, v in pairs}


def expect(info, want, what):
    """The window shows `want` (a file: also a shell type name) and some icon, visible and not minimised."""
    want = dict(want, visible="1", iconic="0")
    wrong = ["%s: %r, expected %r" % (k, info.get(k), v) for k, v in want.items() if k != "path" and info.get(k) != v]
    check(not wrong, "%s: %s" % (what, "; ".join(wrong)))
    check(info["icon"] != "0", "%s: the icon control shows no icon" % what)
    if "path" in want and "type" not in want:
        check(info["type"] not in ("", NO_TYPE), "%s: no shell type name: %r" % (what, info["type"]))


class Session:
    """Xvfb, the Wine prefix, the dialog driver and the drag source, for the whole run."""

    def __init__(self, args):
        self.args = args
        self.tmp = tempfile.mkdtemp(prefix="qvr-e2e-")
        self.files = os.path.join(self.tmp, "files")
        self.port = os.path.join(self.tmp, "port")  # every COM and LPT port of the prefix
        os.makedirs(self.files)
        self.xvfb = self.driver = self.env = None
        self.lines = queue.Queue()  # the driver's replies, then None when it ends
        self.closed = []  # (pid, way) of windows closed during the current case

    def start_xvfb(self):
        for n in range(95, 200):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"], **QUIET)
            deadline = time.time() + 10
            while time.time() < deadline and proc.poll() is None:
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    self.xvfb = proc
                    return ":%d" % n
                time.sleep(0.05)
            proc.kill()
            proc.wait()
        raise Failure("no free X display for Xvfb")

    def start(self):
        self.env = dict(os.environ, DISPLAY=self.start_xvfb(), WINEPREFIX=os.path.join(self.tmp, "prefix"),
                        WINEDEBUG="-all", LC_ALL="ja_JP.UTF-8",
                        WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko installer dialogs
        self.env.pop("WINESERVER", None)
        started = time.time()
        self.run(WINE, "wineboot", "-i", timeout=180)
        # The dialog's font is a proportional Gothic; map it to the proportional IPA face, as a
        # Japanese Windows would show it (Wine would otherwise fall back to a wider fixed face).
        self.run(WINE, "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements",
                 "/v", "ＭＳ Ｐゴシック", "/d", "IPAPGothic", "/f")
        # A fresh prefix maps COM1 to the machine's first serial port, which may be its console. Every
        # COM and LPT name goes to one FIFO of ours instead (the serial port moves on to COM10).
        os.mkfifo(self.port)
        ports = "".join('"%s%d"="%s"\r\n' % (p, n, self.port) for p in ("COM", "LPT") for n in range(1, 10))
        reg = write(os.path.join(self.tmp, "ports.reg"),
                    ("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n" + ports).encode())
        self.run(WINE, "regedit", "/s", win_path(reg))
        self.run(WINESERVER, "-w", timeout=120)
        log("wine prefix ready in %.1f s (display %s)" % (time.time() - started, self.env["DISPLAY"]))
        self.driver = subprocess.Popen([WINE, self.args.driver, win_path(self.args.exe), win_path(self.files)],
                                       env=self.env, cwd=self.files, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        threading.Thread(target=lambda: [*map(self.lines.put, self.driver.stdout), self.lines.put(None)],
                         daemon=True).start()
        check(self.read_line(60) == "ready", "the dialog driver did not start")
        com1 = os.path.join(self.env["WINEPREFIX"], "dosdevices", "com1")
        check(any(os.path.realpath(com1) == self.port or time.sleep(0.1) for _ in range(100)),
              "COM1 of the prefix is not the test's FIFO")
        # Every open of the FIFO, by any process, from now on (inotify, IN_OPEN).
        libc = ctypes.CDLL(None, use_errno=True)
        self.port_watch = libc.inotify_init1(os.O_NONBLOCK)
        check(libc.inotify_add_watch(self.port_watch, self.port.encode(), 0x20) >= 0, "cannot watch the FIFO")

    def port_opened(self):
        return bool(select.select([self.port_watch], [], [], 0)[0]) and len(os.read(self.port_watch, 4096)) > 0

    def run(self, *command, timeout=60, check=True):
        subprocess.run(command, env=self.env, timeout=timeout, check=check, **QUIET)

    def stop(self):
        if self.driver and self.driver.poll() is None:
            try:
                self.cmd("killall", 30)
                self.driver.communicate(b"quit\n", timeout=10)
            except Exception:
                self.driver.kill()
        if self.env:
            self.run(WINESERVER, "-k", timeout=30, check=False)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        shutil.rmtree(self.tmp, ignore_errors=True)

    # --- the dialog driver --------------------------------------------------------------------------
    def read_line(self, timeout):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise Failure("the dialog driver did not answer within %d s" % timeout)
        check(line is not None, "the dialog driver ended")
        return line.decode("ascii").strip()

    def cmd(self, text, timeout=30):
        self.driver.stdin.write(text.encode("ascii") + b"\n")
        self.driver.stdin.flush()
        reply = self.read_line(timeout)
        check(not reply.startswith("err"), "driver: %s -> %s" % (text, reply))
        return reply

    def launch(self, tail):
        """Starts the program with the exact command line "<exe>" + tail."""
        return int(self.cmd("launch " + tail.encode("cp932").hex()).split()[1])

    def windows(self, count, timeout=20):
        """Waits until exactly `count` windows of the program are up; returns their handles."""
        reply = self.cmd("waitcount %d %d" % (count, timeout * 1000), timeout + 10)
        handles = [w.split(":")[0] for w in reply.split()[1:] if ":" in w]
        check(not reply.startswith("timeout"),
              "expected %d window(s) of the program, found %d" % (count, len(handles)))
        return handles

    def stays(self, count, seconds=1.5):
        """Checks that no further instance starts and no further window appears for a while."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            for what in ("list", "processes"):
                found = len(self.cmd(what).split()) - 1
                check(found == count, "expected %d %s of the program, found %d" % (count, what, found))
            time.sleep(0.1)

    def info(self, hwnd):
        return parse_info(self.cmd("info " + hwnd))

    def expect_windows(self, wants, what):
        """Waits for one window per entry of `wants`, each showing its entry; returns them by name."""
        infos = {i["name"]: i for i in map(self.info, self.windows(len(wants)))}
        check(sorted(infos) == sorted(w["name"] for w in wants), "%s: the windows show %s" % (what, sorted(infos)))
        for want in wants:
            expect(infos[want["name"]], want, what)
        return infos

    def wait_name(self, hwnd, name, timeout=10):
        reply = self.cmd("waitname %s %s %d" % (hwnd, name.encode("cp932").hex(), timeout * 1000), timeout + 10)
        info = parse_info(reply.replace("timeout ", "", 1))
        check(not reply.startswith("timeout"), "the window never showed %r; it shows %s"
              % (name, " | ".join("%s=%r" % (k, info[k]) for k in FIELDS)))
        return info

    def close(self, hwnd, way):
        """Closes the window one of the user's ways; its exit status is checked by check_exits."""
        reply = self.cmd("close %s %s" % (hwnd, way), 30)
        check(reply.startswith("closed"), "the window did not go away after closing by %s" % way)
        self.closed.append((int(reply.split()[1]), way))

    def check_exits(self):
        """Every closed window's process ends with status 1 (they end in parallel, so wait here)."""
        closed, self.closed = self.closed, []
        for pid, way in closed:
            reply = self.cmd("waitexit %d 15000" % pid, 30)
            check(reply == "exit 1", "process %d closed by %s: %s, expected exit 1" % (pid, way, reply))

    # --- X side -----------------------------------------------------------------------------------------
    def xdnd(self, *args):
        proc = subprocess.run([self.args.xdnd, "--timeout", "5000", *args], env=self.env, timeout=20,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out = proc.stdout.decode().strip()
        check(proc.returncode == 0, "xdnd %s: %s%s" % (" ".join(args), out, proc.stderr.decode().strip()))
        return out

    def x_window(self, caption):
        return self.xdnd("--find", caption).split()[1]

    def screenshot(self, caption, name):
        os.makedirs(self.args.out, exist_ok=True)
        path = os.path.join(self.args.out, name)
        self.run("import", "-display", self.env["DISPLAY"], "-window", self.x_window(caption), path, timeout=30)
        log("    screenshot: %s" % path)


# --- test files ------------------------------------------------------------------------------------------
def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def magick(path, *options, coder=""):
    subprocess.run(["convert", *options, coder + path], check=True, timeout=60)
    return path


def copy(original, path):
    shutil.copyfile(original["path"], path)
    return image(path, original["scale"], original["colors"])


def make_files(d):
    """Creates one real file of every format, and the odd names the cases need."""
    def p(name):
        return os.path.join(d, name)

    TRUE = "24 ビットカラー"
    f = {"bmp": image(magick(p("cat.bmp"), "-size", "40x30", "xc:red", "-type", "TrueColor", coder="BMP3:"),
                      "40 × 30 Pixel", TRUE)}
    with open(f["bmp"]["path"], "rb") as fh:
        head = fh.read(30)
    check(head[:2] == b"BM" and head[28] == 24, "ImageMagick wrote an unexpected BMP header")
    gif = magick(p("dog.gif"), "-size", "12x7", "gradient:red-blue")
    with open(gif, "rb") as fh:
        packed = fh.read(11)[10]
    f["gif"] = image(gif, "12 × 7 Pixel", "16 色" if packed & 0x70 == 0x30 else "256 色")
    f["png"] = image(magick(p("bird.png"), "-size", "33x17", "gradient:yellow-green", "-define",
                            "png:color-type=2", "-depth", "8"), "33 × 17 Pixel", TRUE)
    f["jpg"] = image(magick(p("fish.jpg"), "-size", "64x48", "gradient:red-blue", "-quality", "85"),
                     "64 × 48 Pixel", TRUE)
    mhdr = b"\x00\x00\x00\x1cMHDR" + (300).to_bytes(4, "big") + (200).to_bytes(4, "big") + bytes(20)
    f["mng"] = image(write(p("anim.mng"), b"\x8aMNG\r\n\x1a\n" + mhdr), "300 × 200 Pixel", UNSUPPORTED)
    pixia = b"Pixia" + bytes(223) + (1280).to_bytes(4, "little") + (960).to_bytes(4, "little") + bytes(64)
    f["pxa"] = image(write(p("paint.pxa"), pixia), "1,280 × 960 Pixel", TRUE)
    f["rif"] = image(write(p("photo.rif"), b"\x00\x02\x00\x01\x01\xe0\x02\x80" + bytes(56)), "640 × 480 Pixel", TRUE)
    f["txt"] = image(write(p("notes.txt"), b"not an image\r\n" * 100), UNSUPPORTED, UNSUPPORTED)
    f["blank"] = copy(f["gif"], p("holiday photo 2024.gif"))
    f["kanji"] = copy(f["png"], p("表ソ能.png"))
    f["second"] = copy(f["jpg"], p("second-long-name.jpg"))
    f["third"] = copy(f["pxa"], p("third long name.pxa"))
    os.makedirs(p("album"))
    f["dir"] = image(p("album"), UNSUPPORTED, UNSUPPORTED, size="0 Byte")
    copy(f["png"], p("p00.png"))  # what the pattern p0?.png would match

    # Dropped paths too long for the drop's buffer. One of 2,051 bytes whose first 2,047 name a BMP
    # (what a cut path would show), and one in double-byte names that is too long in bytes only.
    deep = d
    while len(win_path(deep)) < 1797:
        deep = os.path.join(deep, "d" * 200)
    os.makedirs(deep)
    cut = os.path.join(deep, "n" * (2046 - len(win_path(deep)) - 4) + ".bmp")
    copy(f["bmp"], cut)
    f["long"] = dict(MISSING, path=write(cut + "long", b""))
    deep = d
    while len(win_path(deep).encode("cp932")) < 2048:
        deep = os.path.join(deep, "表" * 80)
    os.makedirs(deep)
    f["long_dbcs"] = copy(f["gif"], os.path.join(deep, "g.gif"))
    return f


# --- command-line cases -------------------------------------------------------------------------------
# Case, command-line tail ({key} is that file's Windows path), what the windows show
# (files or texts), how the window is closed then (None: left open, and no further window may come;
# "kill": ended without a check) and the screenshot to take.
LAUNCHES = [
    ("no_file", "", [NO_FILE], "ok", "dialog-no-file.png"),
    *(("command_line_formats", " {%s}" % k, [k], "escape", "dialog-png.png" if k == "png" else None)
      for k in ("bmp", "gif", "png", "jpg", "mng", "pxa", "rif", "txt")),
    ("quoted_path_with_blanks", ' "{blank}"', ["blank"], None, None),
    ("missing_file", " {missing}", [BAD_NAME], "enter", None),
    ("missing_file", ' "{missing}"', [NO_FILE], None, None),
    ("three_plain_paths", " {bmp} {gif} {png}", ["bmp", "gif", "png"], None, None),
    ("trailing_space", " {bmp} ", ["bmp", NO_FILE], None, None),
    ("tab_between_paths", " {bmp}\t{gif}", ["bmp"], None, None),
    # A relative name, so that the command line starts with a lead byte.
    ("double_byte_name", " 表ソ能.png", ["kanji"], "kill", None),
    ("double_byte_name", " {kanji}", ["kanji"], None, None),
    # A DOS device name shows what the shell answers, an empty file; every case checks afterwards that
    # no COM or LPT port (AUX is COM1) was opened.
    *(("device_names", " " + p, [image(p.split(".")[0], UNSUPPORTED, UNSUPPORTED, "0 Byte")], "ok", None)
      for p in ("COM1.jpg", "AUX.png")),
    ("device_names", r" \\.\COM1", [MISSING], "closebox", None),
    ("wildcard", " p0?.png", [BAD_NAME], "enter", None),
]


def run_launches(rows, s, f):
    paths = {k: win_path(v["path"]) for k, v in f.items()}
    paths["missing"] = win_path(os.path.join(s.files, "missing.png"))
    for tail, shown, way, shot in rows:
        tail = tail.format(**paths)
        wants = [f[w] if isinstance(w, str) else w for w in shown]
        s.launch(tail)
        infos = s.expect_windows(wants, "command line %r" % tail)
        if shot:
            s.screenshot(wants[0]["caption"], shot)
        if way == "kill":
            s.cmd("killall")
        elif way:
            s.close(infos[wants[0]["name"]]["hwnd"], way)
        else:
            s.check_exits()  # a window closed before may still be ending
            s.stays(len(wants))


def four_ways_of_closing(s, f):
    ways = ["ok", "escape", "enter", "closebox"]
    pids = []
    for n, way in enumerate(ways, 1):
        pids.append(s.launch(""))
        s.windows(n)
    windows = {int(i["pid"]): i["hwnd"] for i in map(s.info, s.windows(len(ways)))}
    for pid, way in zip(pids, ways):
        s.close(windows[pid], way)
    # The X close request (what a window manager's close box sends).
    s.launch(" " + win_path(f["rif"]["path"]))
    (w,) = s.windows(1)
    pid = int(s.info(w)["pid"])
    s.xdnd("--close", s.x_window(f["rif"]["caption"]))
    s.closed.append((pid, "WM_DELETE_WINDOW"))


# --- drops -------------------------------------------------------------------------------------------------
def window_for_drops(s, shown=NO_FILE):
    """A fresh window (no file, or showing a file) and its X window, with another window in front."""
    s.launch(" " + win_path(shown["path"]) if "path" in shown else "")
    (w,) = s.windows(1)
    xid = s.x_window(shown["caption"])
    check(s.cmd("steal") == "fg 1", "could not put another window in the foreground")
    return w, xid


def drop(s, w, xid, *images):
    """Drops the files onto the window; the first must show there, the window in the foreground."""
    s.xdnd("--window", xid, *[i["path"] for i in images])
    info = s.wait_name(w, images[0]["name"])
    expect(info, images[0], "dropped %s" % " + ".join(i["name"] for i in images))
    check(len(images) > 1 or info["fg"] == "1", "the window did not come to the foreground after the drop")
    return info


# Case, file shown before the drops, then the drops in order (each one list of files).
DROPS = [
    ("drop_one_file", None, [["jpg"]]),
    ("drop_three_files", None, [["bmp", "second", "third"]]),
    ("drop_replaces_everything", "bmp", [["gif"]]),
    ("drop_odd_names", None, [["kanji"], ["blank"]]),
    ("drop_directory_and_text", None, [["dir"], ["txt"]]),
    # Too long for the buffer: the first shows as missing, a further one gets no window.
    ("drop_long_paths", None, [["long", "jpg", "long_dbcs"]]),
]


def run_drops(start, drops, s, f):
    w, xid = window_for_drops(s, f[start] if start else NO_FILE)
    before = s.info(w)
    for keys in drops:
        images = [f[k] for k in keys]
        after = drop(s, w, xid, *images)
        # The others go to one new window each, unless their path is too long to hand on whole.
        shown = images[:1] + [i for i in images[1:] if len(win_path(i["path"]).encode("cp932")) <= 2045]
        if len(images) > 1:
            s.expect_windows(shown, "dropped, new windows")
    if start:
        same = [k for k in FIELDS + ("icon",) if before[k] == after[k]]
        check(not same, "fields not replaced by the drop: %s" % same)
    s.stays(len(shown))


def many_drops(count, s, f):
    """Drops `count` distinct files one after another onto one window; each must show, no icon leak."""
    os.makedirs(os.path.join(s.files, str(count)))
    images = [copy(f["bmp"], os.path.join(s.files, str(count), "drop%03d.bmp" % i)) for i in range(count)]
    w, xid = window_for_drops(s)
    started = time.time()
    icons = [int(drop(s, w, xid, i)["icon"], 16) for i in images]
    expect(s.info(w), images[-1], "after %d drops" % count)
    s.stays(1, 0.5)
    # Wine's user handles are an index into one table (low 16 bits) and a generation count. A released
    # icon frees its index for the next one, so the icons shown cycle through a few indices; a leaked
    # icon keeps its index, and every drop would take a new one.
    indices = {h & 0xFFFF for h in icons}
    log("    %d drops in %.1f s; %d distinct icon handles on %d table slots" % (
        count, time.time() - started, len(set(icons)), len(indices)))
    check(len(indices) <= max(16, count // 20),
          "icon handles are not reused: %d slots for %d drops (the replaced icons are not released)"
          % (len(indices), count))


CASES = [(name, lambda s, f, rows=[r[1:] for r in rows]: run_launches(rows, s, f))
         for name, rows in itertools.groupby(LAUNCHES, key=lambda r: r[0])]
CASES.insert(-1, ("four_ways_of_closing", four_ways_of_closing))
CASES += [(name, lambda s, f, a=start, d=drops: run_drops(a, d, s, f)) for name, start, drops in DROPS]
CASES += [("twenty_drops", lambda s, f: many_drops(20, s, f)),
          ("five_hundred_drops", lambda s, f: many_drops(500, s, f))]


# --- main ----------------------------------------------------------------------------------------------------
def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--exe", required=True, help="the Windows program (qvr.exe of the win64 build)")
    ap.add_argument("--driver", required=True, help="the dialog driver (Win32 helper)")
    ap.add_argument("--xdnd", required=True, help="the Xlib drag source")
    ap.add_argument("--out", required=True, help="folder for the screenshots")
    ap.add_argument("cases", nargs="*", help="names of the cases to run (default: all)")
    args = ap.parse_args()
    for name in ("exe", "driver", "xdnd", "out"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    for tool in ("Xvfb", "convert", "import"):
        check(shutil.which(tool), "%s is missing (tools/install-deps.sh installs it)" % tool)
    for path in (args.exe, args.driver, args.xdnd, WINE, WINESERVER):
        check(os.path.exists(path), "%s is missing" % path)

    selected = [(n, c) for n, c in CASES if not args.cases or n in args.cases]
    session = Session(args)
    failed, passed, started = [], 0, time.time()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
    try:
        files = make_files(session.files)
        session.start()
        for name, run in selected:
            t = time.time()
            session.port_opened()  # forget what a failed case before may have left
            try:
                run(session, files)
                session.check_exits()
                check(not session.port_opened(), "the program opened a COM or LPT port")
                passed += 1
                log("PASS %-26s %5.1f s" % (name, time.time() - t))
            except Exception as e:
                failed.append(name)
                detail = e if isinstance(e, Failure) else "\n" + traceback.format_exc()
                log("FAIL %-26s %5.1f s: %s" % (name, time.time() - t, detail))
            session.closed = []
            session.cmd("killall", 60)
    except (Failure, subprocess.SubprocessError, OSError) as e:
        failed.append("set-up")
        log("FAIL set-up: %s" % e)
    finally:
        session.stop()
    log("%d of %d cases passed in %.1f s" % (passed, len(selected), time.time() - started))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
