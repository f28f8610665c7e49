#!/usr/bin/env python3
"""End-to-end tests of the Windows program under Wine.

Starts a private Xvfb display and one fresh Wine prefix for the whole run, drives the program with
the dialog driver (a Win32 helper running under Wine) and drops files onto it through XDND with
the Xlib drag source. Every wait is bounded; the exit status is non-zero when any case fails.
"""
import argparse
import decimal
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

NO_FILE = {
    "caption": "QVR Version 1.0",
    "name": "ファイルをドロップしてください。",
    "type": "画像情報取得ツール QVR Version 1.0",
    "size": "??? Byte",
    "scale": "??? × ??? Pixel",
    "colors": "??? 色",
}
BAD_NAME = "ファイル名が不正です。"
NO_TYPE = "ファイルタイプを取得できません。"
UNSUPPORTED = "未サポート"
FIELDS = ("caption", "name", "type", "size", "scale", "colors")

SW_MINIMIZE = 6
SW_SHOWMINNOACTIVE = 7


class Failure(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Failure(message)


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


class ImageFile:
    """A test file and what the dialog must show for it (the type name is the shell's own)."""

    def __init__(self, path, scale, colors):
        self.path = path
        self.name = os.path.basename(path)
        self.scale = scale
        self.colors = colors

    def expected(self):
        return {
            "caption": "%s - QVR Version 1.0" % self.name,
            "name": self.name,
            "size": size_text(os.path.getsize(self.path)),
            "scale": self.scale,
            "colors": self.colors,
        }


class Info(dict):
    """One window as the driver read it: the six texts decoded from code page 932, and its state."""

    @staticmethod
    def parse(line):
        check(line.startswith("info "), "driver: %s" % line)
        info = Info()
        for word in line.split()[1:]:
            key, _, value = word.partition("=")
            if key in FIELDS:
                raw = bytes.fromhex(value)
                try:
                    info[key] = raw.decode("cp932")
                except UnicodeDecodeError:
                    info[key] = repr(raw)
            else:
                info[key] = value
        return info

    def show(self):
        return " | ".join("%s=%r" % (k, self[k]) for k in FIELDS)


def expect(info, expected, what):
    wrong = ["%s: %r, expected %r" % (k, info.get(k), v) for k, v in expected.items() if info.get(k) != v]
    check(not wrong, "%s: %s" % (what, "; ".join(wrong)))


def expect_file(info, image, what):
    expect(info, image.expected(), what)
    check(info["type"] not in ("", NO_TYPE), "%s: no shell type name: %r" % (what, info["type"]))
    check(info["icon"] != "0", "%s: the icon control shows no icon" % what)


class Session:
    """Xvfb, the Wine prefix, the dialog driver and the drag source, for the whole run."""

    def __init__(self, args):
        self.args = args
        self.tmp = tempfile.mkdtemp(prefix="qvr-e2e-")
        self.files = os.path.join(self.tmp, "files")
        os.makedirs(self.files)
        self.xvfb = None
        self.driver = None
        self.buffer = b""
        self.env = None
        self.display = None
        self.closed = []  # (pid, way) of windows closed during the current case

    # --- set-up and tear-down -------------------------------------------------------------------
    def start_xvfb(self):
        candidates = [int(self.args.display)] if self.args.display else range(95, 200)
        for n in candidates:
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            proc = subprocess.Popen(
                ["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.time() + 10
            while time.time() < deadline and proc.poll() is None:
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    self.xvfb, self.display = proc, ":%d" % n
                    return
                time.sleep(0.05)
            proc.kill()
            proc.wait()
        raise Failure("no free X display for Xvfb")

    def start(self):
        self.start_xvfb()
        self.env = dict(os.environ)
        self.env.update({
            "DISPLAY": self.display,
            "WINEPREFIX": os.path.join(self.tmp, "prefix"),
            "WINEDEBUG": "-all",
            "LC_ALL": "ja_JP.UTF-8",
            # No Mono or Gecko installer dialogs while the prefix is made.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        self.env.pop("WINESERVER", None)
        started = time.time()
        subprocess.run([self.args.wine, "wineboot", "-i"], env=self.env, timeout=180,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        # The dialog's font is a proportional Gothic; map it to the proportional IPA face, as a
        # Japanese Windows would show it (Wine would otherwise fall back to a wider fixed face).
        subprocess.run([self.args.wine, "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements",
                        "/v", "ＭＳ Ｐゴシック", "/d", "IPAPGothic", "/f"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        subprocess.run([self.args.wineserver, "-w"], env=self.env, timeout=120, check=True)
        log("wine prefix ready in %.1f s (display %s, %s)" % (time.time() - started, self.display, self.tmp))
        self.driver = subprocess.Popen(
            [self.args.wine, self.args.driver, win_path(self.args.exe), win_path(self.files)],
            env=self.env, cwd=self.files, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        check(self.read_line(60) == "ready", "the dialog driver did not start")

    def stop(self):
        if self.driver and self.driver.poll() is None:
            try:
                self.cmd("killall", 30)
                self.driver.stdin.write(b"quit\n")
                self.driver.stdin.flush()
                self.driver.wait(10)
            except Exception:
                self.driver.kill()
        if self.env:
            subprocess.run([self.args.wineserver, "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        if not self.args.keep:
            shutil.rmtree(self.tmp, ignore_errors=True)

    # --- the dialog driver --------------------------------------------------------------------------
    def read_line(self, timeout):
        deadline = time.time() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.time()
            check(left > 0, "the dialog driver did not answer within %d s" % timeout)
            ready, _, _ = select.select([self.driver.stdout], [], [], left)
            if ready:
                chunk = os.read(self.driver.stdout.fileno(), 65536)
                check(chunk, "the dialog driver ended")
                self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line.decode("ascii").strip()

    def cmd(self, text, timeout=30):
        self.driver.stdin.write(text.encode("ascii") + b"\n")
        self.driver.stdin.flush()
        reply = self.read_line(timeout)
        check(not reply.startswith("err"), "driver: %s -> %s" % (text, reply))
        return reply

    def launch(self, tail, show=None):
        """Starts the program with the exact command line "<exe>" + tail."""
        line = "launch " + tail.encode("cp932").hex()
        if show is not None:
            line += " %d" % show
        return int(self.cmd(line).split()[1])

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
            found = self.cmd("list").split()[1:]
            check(len(found) == count, "expected %d window(s), found %d" % (count, len(found)))
            running = self.cmd("processes").split()[1:]
            check(len(running) == count, "expected %d process(es) of the program, found %d" % (count, len(running)))
            time.sleep(0.1)

    def info(self, hwnd):
        return Info.parse(self.cmd("info " + hwnd))

    def wait_name(self, hwnd, name, timeout=10):
        reply = self.cmd("waitname %s %s %d" % (hwnd, name.encode("cp932").hex(), timeout * 1000), timeout + 10)
        info = Info.parse(reply.replace("timeout ", "", 1))
        check(not reply.startswith("timeout"), "the window never showed %r; it shows %s" % (name, info.show()))
        return info

    def close(self, hwnd, way):
        """Closes the window one of the user's ways; its exit status is checked by check_exits."""
        reply = self.cmd("close %s %s" % (hwnd, way), 30)
        check(reply.startswith("closed"), "the window did not go away after closing by %s" % way)
        self.closed.append((int(reply.split()[1]), way))

    def wait_exit(self, pid):
        reply = self.cmd("waitexit %d 15000" % pid, 30)
        check(reply != "exit timeout", "process %d did not end" % pid)
        return int(reply.split()[1])

    def check_exits(self):
        """Every closed window's process ends with status 1 (they end in parallel, so wait here)."""
        closed, self.closed = self.closed, []
        for pid, way in closed:
            status = self.wait_exit(pid)
            check(status == 1, "exit status %d after closing by %s, expected 1" % (status, way))

    # --- X side -----------------------------------------------------------------------------------------
    def xdnd(self, *args, timeout=20):
        proc = subprocess.run([self.args.xdnd, "--timeout", "5000", *args], env=self.env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out = proc.stdout.decode().strip()
        check(proc.returncode == 0, "xdnd %s: %s%s" % (" ".join(args), out, proc.stderr.decode().strip()))
        return out

    def x_window(self, caption):
        return self.xdnd("--find", caption).split()[1]

    def drop(self, xid, *paths):
        return self.xdnd("--window", xid, *[os.path.abspath(p) for p in paths])

    def screenshot(self, caption, name):
        os.makedirs(self.args.out, exist_ok=True)
        path = os.path.join(self.args.out, name)
        subprocess.run(["import", "-display", self.display, "-window", self.x_window(caption), path],
                       env=self.env, timeout=30, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path


def log(text):
    print(text, flush=True)


# --- test files ------------------------------------------------------------------------------------------
def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def magick(path, *options, coder=""):
    subprocess.run(["convert", *options, coder + path], check=True, timeout=60)
    return path


def make_files(d):
    """Creates one real file of every format, and the odd names the cases need."""
    def p(name):
        return os.path.join(d, name)

    f = {}
    f["bmp"] = ImageFile(magick(p("cat.bmp"), "-size", "40x30", "xc:red", "-type", "TrueColor", coder="BMP3:"),
                         "40 × 30 Pixel", "24 ビットカラー")
    gif = magick(p("dog.gif"), "-size", "12x7", "gradient:red-blue")
    with open(gif, "rb") as fh:
        packed = fh.read(11)[10]
    f["gif"] = ImageFile(gif, "12 × 7 Pixel", "16 色" if packed & 0x70 == 0x30 else "256 色")
    f["png"] = ImageFile(magick(p("bird.png"), "-size", "33x17", "gradient:yellow-green", "-define",
                                "png:color-type=2", "-depth", "8"), "33 × 17 Pixel", "24 ビットカラー")
    f["jpg"] = ImageFile(magick(p("fish.jpg"), "-size", "64x48", "gradient:red-blue", "-quality", "85"),
                         "64 × 48 Pixel", "24 ビットカラー")
    mhdr = b"\x00\x00\x00\x1cMHDR" + (300).to_bytes(4, "big") + (200).to_bytes(4, "big") + bytes(20)
    f["mng"] = ImageFile(write(p("anim.mng"), b"\x8aMNG\r\n\x1a\n" + mhdr), "300 × 200 Pixel", UNSUPPORTED)
    pixia = b"Pixia" + bytes(223) + (1280).to_bytes(4, "little") + (960).to_bytes(4, "little") + bytes(64)
    f["pxa"] = ImageFile(write(p("paint.pxa"), pixia), "1,280 × 960 Pixel", "24 ビットカラー")
    f["rif"] = ImageFile(write(p("photo.rif"), b"\x00\x02\x00\x01\x01\xe0\x02\x80" + bytes(56)),
                         "640 × 480 Pixel", "24 ビットカラー")
    f["txt"] = ImageFile(write(p("notes.txt"), b"not an image\r\n" * 100), UNSUPPORTED, UNSUPPORTED)
    f["blank"] = copy(f["gif"], p("holiday photo 2024.gif"))
    f["kanji"] = copy(f["png"], p("表ソ能.png"))
    f["second"] = copy(f["jpg"], p("second-long-name.jpg"))
    f["third"] = copy(f["pxa"], p("third long name.pxa"))
    os.makedirs(p("album"))
    f["dir"] = ImageFile(p("album"), UNSUPPORTED, UNSUPPORTED)
    return f


def copy(image, path):
    shutil.copyfile(image.path, path)
    return ImageFile(path, image.scale, image.colors)


def check_bmp_header(image):
    with open(image.path, "rb") as fh:
        head = fh.read(30)
    check(head[:2] == b"BM" and head[28] == 24, "ImageMagick wrote an unexpected BMP header")


# --- cases --------------------------------------------------------------------------------------------------
CASES = []


def case(fn):
    CASES.append(fn)
    return fn


@case
def no_file(s, f):
    s.launch("")
    (w,) = s.windows(1)
    info = s.info(w)
    expect(info, NO_FILE, "no file")
    check(info["icon"] != "0", "no file: the icon control shows no icon")
    log("    screenshot: %s" % s.screenshot(NO_FILE["caption"], "dialog-no-file.png"))
    s.close(w, "ok")


@case
def command_line_formats(s, f):
    for key in ("bmp", "gif", "png", "jpg", "mng", "pxa", "rif", "txt"):
        image = f[key]
        s.launch(" " + win_path(image.path))
        (w,) = s.windows(1)
        expect_file(s.info(w), image, "command line %s" % image.name)
        if key == "png":
            log("    screenshot: %s" % s.screenshot(image.expected()["caption"], "dialog-%s.png" % key))
        s.close(w, "escape")


@case
def quoted_path_with_blanks(s, f):
    s.launch(' "%s"' % win_path(f["blank"].path))
    (w,) = s.windows(1)
    expect_file(s.info(w), f["blank"], "quoted path")
    s.stays(1)


@case
def missing_file(s, f):
    missing = os.path.join(s.files, "missing.png")
    s.launch(" " + win_path(missing))
    (w,) = s.windows(1)
    expect(s.info(w), {"caption": "QVR Version 1.0", "name": BAD_NAME, "size": "??? Byte",
                       "scale": "??? × ??? Pixel", "colors": "??? 色"}, "missing file, plain")
    s.close(w, "enter")
    s.launch(' "%s"' % win_path(missing))
    (w,) = s.windows(1)
    expect(s.info(w), NO_FILE, "missing file, quoted")


@case
def three_plain_paths(s, f):
    images = [f["bmp"], f["gif"], f["png"]]
    s.launch("".join(" " + win_path(i.path) for i in images))
    shown = {}
    for w in s.windows(3):
        info = s.info(w)
        shown[info["name"]] = (w, info)
    check(sorted(shown) == sorted(i.name for i in images), "three paths: windows show %s" % sorted(shown))
    for image in images:
        expect_file(shown[image.name][1], image, "three paths, %s" % image.name)
    s.stays(3)


@case
def trailing_space(s, f):
    s.launch(" %s " % win_path(f["bmp"].path))
    infos = sorted((s.info(w) for w in s.windows(2)), key=lambda i: i["name"])
    expect_file(infos[0], f["bmp"], "trailing space, first window")
    expect(infos[1], NO_FILE, "trailing space, second window")
    s.stays(2)


@case
def tab_between_paths(s, f):
    s.launch(" %s\t%s" % (win_path(f["bmp"].path), win_path(f["gif"].path)))
    (w,) = s.windows(1)
    expect_file(s.info(w), f["bmp"], "tab between paths")
    s.stays(1)


@case
def double_byte_name(s, f):
    # A relative name, so that the command line starts with a lead byte.
    s.launch(" " + f["kanji"].name)
    (w,) = s.windows(1)
    expect_file(s.info(w), f["kanji"], "relative 表ソ能 name")
    s.cmd("killall")
    s.launch(" " + win_path(f["kanji"].path))
    (w,) = s.windows(1)
    expect_file(s.info(w), f["kanji"], "absolute 表ソ能 path")


@case
def four_ways_of_closing(s, f):
    ways = ["ok", "escape", "enter", "closebox"]
    pids = []
    for n, way in enumerate(ways, 1):
        pids.append(s.launch(""))
        s.windows(n)
    windows = {}
    for w in s.windows(len(ways)):
        windows[int(s.info(w)["pid"])] = w
    for pid, way in zip(pids, ways):
        s.close(windows[pid], way)
    # The X close request (what a window manager's close box sends).
    s.launch(" " + win_path(f["rif"].path))
    (w,) = s.windows(1)
    pid = int(s.info(w)["pid"])
    s.xdnd("--close", s.x_window(f["rif"].expected()["caption"]))
    s.closed.append((pid, "WM_DELETE_WINDOW"))


@case
def minimised_show_command(s, f):
    for show in (SW_SHOWMINNOACTIVE, SW_MINIMIZE):
        s.launch(" " + win_path(f["png"].path), show)
        (w,) = s.windows(1)
        info = s.info(w)
        check(info["visible"] == "1" and info["iconic"] == "0",
              "show command %d: window visible=%s iconic=%s" % (show, info["visible"], info["iconic"]))
        expect_file(info, f["png"], "show command %d" % show)
        s.close(w, "closebox")


# --- drops -------------------------------------------------------------------------------------------------
def window_for_drops(s, image=None):
    """A fresh window (no file, or showing `image`) and its X window, with another window in front."""
    s.launch("" if image is None else " " + win_path(image.path))
    (w,) = s.windows(1)
    caption = NO_FILE["caption"] if image is None else image.expected()["caption"]
    xid = s.x_window(caption)
    check(s.cmd("steal") == "fg 1", "could not put another window in the foreground")
    return w, xid


@case
def drop_one_file(s, f):
    w, xid = window_for_drops(s)
    s.drop(xid, f["jpg"].path)
    info = s.wait_name(w, f["jpg"].name)
    expect_file(info, f["jpg"], "one file dropped")
    check(info["fg"] == "1", "the window did not come to the foreground after the drop")
    s.stays(1)


@case
def drop_three_files(s, f):
    w, xid = window_for_drops(s)
    images = [f["bmp"], f["second"], f["third"]]
    s.drop(xid, *(i.path for i in images))
    expect_file(s.wait_name(w, images[0].name), images[0], "three dropped, first")
    others = {}
    for other in s.windows(3):
        if other != w:
            info = s.info(other)
            others[info["name"]] = info
    for image in images[1:]:
        check(image.name in others, "no window shows %s; the new windows show %s" % (image.name, sorted(others)))
        expect_file(others[image.name], image, "three dropped, new window")
    s.stays(3)


@case
def drop_replaces_everything(s, f):
    w, xid = window_for_drops(s, f["bmp"])
    before = s.info(w)
    s.drop(xid, f["gif"].path)
    after = s.wait_name(w, f["gif"].name)
    expect_file(after, f["gif"], "drop onto a window showing a file")
    same = [k for k in FIELDS + ("icon",) if before[k] == after[k]]
    check(not same, "fields not replaced by the drop: %s" % same)


@case
def drop_odd_names(s, f):
    w, xid = window_for_drops(s)
    for image in (f["kanji"], f["blank"]):
        s.drop(xid, image.path)
        expect_file(s.wait_name(w, image.name), image, "dropped %s" % image.name)
    s.stays(1)


@case
def drop_directory_and_text(s, f):
    w, xid = window_for_drops(s)
    s.drop(xid, f["dir"].path)
    info = s.wait_name(w, f["dir"].name)
    expect(info, {"caption": "album - QVR Version 1.0", "size": "0 Byte", "scale": UNSUPPORTED,
                  "colors": UNSUPPORTED}, "dropped directory")
    check(info["type"] not in ("", NO_TYPE), "dropped directory: no shell type name")
    s.drop(xid, f["txt"].path)
    expect_file(s.wait_name(w, f["txt"].name), f["txt"], "dropped text file")
    s.stays(1)


def drop_many(s, f, count, tag):
    """Drops `count` distinct files one after another; returns the icon handles shown."""
    folder = os.path.join(s.files, tag)
    os.makedirs(folder, exist_ok=True)
    images = [copy(f["bmp"], os.path.join(folder, "%s%03d.bmp" % (tag, i))) for i in range(count)]
    w, xid = window_for_drops(s)
    icons = []
    for image in images:
        s.drop(xid, image.path)
        icons.append(int(s.wait_name(w, image.name)["icon"], 16))
    info = s.info(w)
    expect_file(info, images[-1], "after %d drops" % count)
    s.stays(1, 0.5)
    return icons


@case
def twenty_drops(s, f):
    drop_many(s, f, 20, "twenty")


@case
def five_hundred_drops(s, f):
    count = s.args.drops
    started = time.time()
    icons = drop_many(s, f, count, "many")
    # Wine's user handles are an index into one table (low 16 bits) and a generation count. A released
    # icon frees its index for the next one, so the icons shown cycle through a few indices; a leaked
    # icon keeps its index, and every drop would take a new one.
    indices = {h & 0xFFFF for h in icons}
    log("    %d drops in %.1f s; %d distinct icon handles on %d table slots" % (
        count, time.time() - started, len(set(icons)), len(indices)))
    check(len(indices) <= max(16, count // 20),
          "icon handles are not reused: %d slots for %d drops (the replaced icons are not released)"
          % (len(indices), count))


# --- main ----------------------------------------------------------------------------------------------------
def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--exe", required=True, help="the Windows program (qvr.exe of the win64 build)")
    ap.add_argument("--driver", required=True, help="the dialog driver (Win32 helper)")
    ap.add_argument("--xdnd", required=True, help="the Xlib drag source")
    ap.add_argument("--out", required=True, help="folder for the screenshots")
    ap.add_argument("--wine", default=shutil.which("wine64") or "/usr/lib/wine/wine64")
    ap.add_argument("--wineserver", default=shutil.which("wineserver") or "/usr/lib/wine/wineserver")
    ap.add_argument("--display", help="X display number to use (default: the first free from 95)")
    ap.add_argument("--drops", type=int, default=500, help="drops in the long drop case")
    ap.add_argument("--keep", action="store_true", help="keep the temporary folder")
    ap.add_argument("cases", nargs="*", help="names of the cases to run (default: all)")
    args = ap.parse_args()
    for name in ("exe", "driver", "xdnd", "out"):
        setattr(args, name, os.path.abspath(getattr(args, name)))

    for tool in ("Xvfb", "convert", "import"):
        check(shutil.which(tool), "%s is missing (tools/install-deps.sh installs it)" % tool)
    for path in (args.exe, args.driver, args.xdnd, args.wine, args.wineserver):
        check(os.path.exists(path), "%s is missing" % path)

    selected = [c for c in CASES if not args.cases or c.__name__ in args.cases]
    session = Session(args)
    failed = []
    passed = 0
    started = time.time()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
    try:
        files = make_files(session.files)
        check_bmp_header(files["bmp"])
        session.start()
        for c in selected:
            t = time.time()
            try:
                c(session, files)
                session.check_exits()
                passed += 1
                log("PASS %-26s %5.1f s" % (c.__name__, time.time() - t))
            except Failure as e:
                failed.append(c.__name__)
                log("FAIL %-26s %5.1f s: %s" % (c.__name__, time.time() - t, e))
            except Exception:
                failed.append(c.__name__)
                log("FAIL %-26s %5.1f s:\n%s" % (c.__name__, time.time() - t, traceback.format_exc()))
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
