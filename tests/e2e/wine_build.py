"""What both Wine runners share: the build and its loader, a prefix, the dialog driver, made files, the cases."""
import ctypes
import os
import queue
import select
import shutil
import struct
import subprocess
import threading
import time

WINE32 = "/usr/lib/wine/wine"
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
JPEG = b"\xff\xd8\xff\xe0\0\x10JFIF\0\1\1\0\0\1\0\1\0\0\xff\xc0\0\x0b\x08\0\x30\0\x40\x01" + bytes(3)  # 64 × 48, grey
# Names code page 932 cannot hold, or holds only by likeness (é as e, ¥ as the separator 0x5C, ‾ as ~): width,
# shown name. Each has a neighbour such a conversion would reach; every file is of its own width.
NAMES = {"café.png": (31, "caf?.png"), "😀.png": (32, "?.png"), "𠮷.png": (33, "?.png"), "한국.png": (34, "??.png"),
         "a¥b.png": (35, "a￥b.png"), "x‾y.png": (36, "x￣y.png")}
NEIGHBOURS = {"a/b.png": 99, "x~y.png": 88, "cafe.png": 77}


class Failure(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Failure(message() if callable(message) else message)


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


def png_of(width, pad=0):  # a PNG header, 17 pixels high, 256 colours; `pad` zero bytes after it
    return b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR" + struct.pack(">IIBB", width, 17, 8, 3) + bytes(7 + pad)


def watch_opens(path):
    """An inotify descriptor told of each open of `path`, and for a folder of each entry's, from now on."""
    libc = ctypes.CDLL(None, use_errno=True)
    watch = libc.inotify_init1(os.O_NONBLOCK)
    check(libc.inotify_add_watch(watch, path.encode(), 0x20) >= 0, "cannot watch " + path)  # IN_OPEN
    return watch


def opened(watch):
    """The names opened since the last call ("" for the watched path itself)."""
    data, names = b"", []
    while select.select([watch], [], [], 0)[0]:
        data += os.read(watch, 65536)
    while data:
        size = struct.unpack_from("I", data, 12)[0]
        names, data = names + [data[16:16 + size].rstrip(b"\0").decode()], data[16 + size:]
    return names


def choose(*exes):
    """The loader and the win32 build's programs, or where 32-bit programs cannot run, wine64 and their twins."""
    try:  # the loader is itself a 32-bit program
        subprocess.run([WINE32, "--version"], check=True, capture_output=True, timeout=60)
        print("build: win32 (PE32 i686) under %s" % WINE32, flush=True)
        return WINE32, exes
    except (OSError, subprocess.SubprocessError) as e:
        print("build: win64 (PE32+ x86-64) under %s, NOT the release: this machine cannot run 32-bit programs "
              "(%s --version: %s)" % (WINE64, WINE32, e), flush=True)
        return WINE64, [os.path.join(os.path.dirname(exe), "..", "..", "win64", "bin", os.path.basename(exe)) for exe in exes]


def wine_prefix(tmp, wine, display=None):
    """A fresh prefix's environment; every COM and LPT port leads to the FIFO tmp/port, not the machine's ports."""
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


def write_names(folder, png):
    """The files of NAMES and NEIGHBOURS, the PNG header `png` of each width; the paths of NAMES."""
    widths = dict(NEIGHBOURS, **{n: w for n, (w, _) in NAMES.items()})
    paths = {n: write(os.path.join(folder, n), png[:16] + struct.pack(">I", w) + png[20:]) for n, w in widths.items()}
    return {n: paths[n] for n in NAMES}


def make_dots(d):
    """Names the system lists but trims when typed, each beside the name it would be trimmed to; their paths."""
    files = {"x.png": png_of(61), "x.png.": JPEG + bytes(10), "y.png": png_of(62), "y.png ": png_of(63, 20),
             "dir/in.png": png_of(64), "dir./in.png": png_of(65), "tail.png.": png_of(66, 30)}
    return {name: write(os.path.join(d, name), data) for name, data in files.items()}


class Driver:
    """The dialog driver (dialog_driver_win.cpp): a command a line, an answer line."""

    def __init__(self, wine, driver, exe, folder, env):
        self.lines, self.process = queue.Queue(), subprocess.Popen([wine, driver, exe, folder], env=env,
                                                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                                                   stderr=subprocess.DEVNULL)
        threading.Thread(target=lambda: [*map(self.lines.put, self.process.stdout), self.lines.put(b"")],
                         daemon=True).start()
        check(self.lines.get(timeout=60).strip() == b"ready", "the dialog driver did not start")

    def cmd(self, text):
        self.process.stdin.write(text.encode("ascii") + b"\n")
        self.process.stdin.flush()
        try:
            reply = self.lines.get(timeout=30).decode("ascii").strip()
        except queue.Empty:
            raise Failure("the dialog driver did not answer %s" % text)
        check(reply and not reply.startswith("err"), "driver: %s -> %r" % (text, reply))
        return reply

    def close(self):
        self.process.stdin.close()  # the driver then ends what it started and lets go of what it holds
        self.process.wait(timeout=60)

    def hold(self, path):  # open without sharing, as another program may
        self.cmd("hold " + win_path(path).encode("utf-8").hex())


def run_cases(cases, names, call):
    failed, started = [], time.time()
    for name in names or cases:
        t = time.time()
        try:
            call(cases[name])
            print("PASS %-19s %5.1f s" % (name, time.time() - t), flush=True)
        except (Failure, subprocess.SubprocessError, OSError) as e:
            failed.append(name)
            print("FAIL %-19s %5.1f s: %s" % (name, time.time() - t, e), flush=True)
    print("%s in %.1f s" % ("failed: " + ", ".join(failed) if failed else "all passed", time.time() - started))
    return 1 if failed else 0
