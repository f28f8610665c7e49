#!/usr/bin/env python3
"""qvrc.exe under Wine against Linux qvr, and what only Windows meets (tests/README.md). 77: skipped."""
import argparse
import copy
import fcntl
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import types

from wine_build import NAMES, WINESERVER, Driver, check, choose, make_dots, opened, run_cases, watch_opens, win_path, \
    wine_prefix, write, write_names

SKIPPED = 77
C = types.SimpleNamespace()  # wine, qvrc, qvr, tmp, env: set once by main


def make_files(folder):
    magick = [("a.bmp", ["-type", "TrueColor"]), ("b.bmp", ["-type", "Palette", "-colors", "16"]),
              ("c.bmp", ["-define", "bmp:format=bmp2"]), ("a.gif", []), ("a.png", []), ("a.mng", []),
              ("a.jpg", ["-quality", "80"]), ("b.jpeg", ["-colorspace", "Gray"]), ("画像.png", [])]
    os.makedirs(folder)
    for name, options in magick:
        subprocess.run(["convert", "-size", "37x21", "plasma:", *options, os.path.join(folder, name)], check=True)
    for name, data in {"a.pxa": b"Pixia" + bytes(223) + struct.pack("<II", 640, 480), "note.txt": b"text\n",
                       "a.rif": b"\x00\x02\x00\x01" + struct.pack(">HH", 30, 40), "noext": b""}.items():
        write(os.path.join(folder, name), data)
    # Sparse files past 32 bits: 3 GiB (sign), 4 GiB (low word 0), 5 GiB + 3, and a JPEG whose frame header lies
    # past 4 GiB after zeros and `00 02`; its first segment is FF C0 over and over: a read 4 GiB early meets a frame.
    for ext, size in (("gif", 3 << 30), ("bmp", 4 << 30), ("png", (5 << 30) + 3)):
        os.truncate(shutil.copy(os.path.join(folder, "a." + ext), os.path.join(folder, "big." + ext)), size)
    jfif = b"\xff\xd8\xff\xe0\0\x10JFIF\0\1\1\0\0\1\0\1\0\0\xff\xfe\xff\xfe" + b"\xff\xc0" * 32766
    with open(write(os.path.join(folder, "big.jpg"), jfif), "r+b") as f:
        f.seek((1 << 32) + (1 << 20) - 2), f.write(b"\0\2\xff\xc0\0\x11\x08\1\x23\4\x56\3")
    with open(os.path.join(folder, "a.png"), "rb") as f:
        write_names(os.path.join(folder, "names"), f.read())


def copies(folder, names, source="a.png"):
    for name in names:
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        shutil.copy(os.path.join(C.tmp, "made", source), os.path.join(folder, name))


def json_lines(command, cwd, env=None, timeout=300):
    run = subprocess.run(command, cwd=cwd, env=env, capture_output=True, timeout=timeout)  # a walk without end
    return run.returncode, [json.loads(line) for line in run.stdout.decode("utf-8").splitlines()], run.stderr


def qvrc(*args, cwd=None, timeout=300):
    return json_lines([C.wine, C.qvrc, "--json", *args], cwd or C.tmp, C.env, timeout)


def qvr(*args, cwd=None):
    return json_lines([C.qvr, "--json", *args], cwd or C.tmp)


def same(windows, linux, what):  # qvrc.exe's lines are qvr's, the shell's type names aside
    found = [] if len(windows) == len(linux) else ["%d lines from qvrc.exe, %d from qvr" % (len(windows), len(linux))]
    for w, l in zip(windows, linux):
        for line in (w, l):
            del line["typeName"], line["texts"]["type"]
        if w != l:
            found.append("%s:\n  qvrc.exe %s\n  qvr      %s" % (l["path"], w, l))
    check(not found, lambda: "%s: %s" % (what, "\n".join(found[:10])))


def name_order(names):  # of a pattern's matches and a folder's entries: ASCII letters in either case alike
    return sorted(names, key=lambda n: (n.encode().lower(), n.encode()))


def files():
    """Every test image and made file, by the patterns of their folders, and names code page 932 cannot hold (or
    only by likeness one way, 〜 as ～) as arguments, each reaching its own file: qvr's lines."""
    likeness = {"a\u301cb.png": "a?b.png", **{c + ".png": "?.png" for c in "\u00a2\u00a3\u00ac\u2014\u2016\u2212"}}
    copies(os.path.join(C.tmp, "made", "names"), likeness)
    args, patterns, paths = ["made/names/" + n for n in [*NAMES, *likeness, "無い😀¥.png"]], [], []
    for top in ("testdata", "made"):
        for folder, dirs, names in os.walk(os.path.join(C.tmp, top), followlinks=True):
            dirs.sort()
            patterns.append(os.path.relpath(folder, C.tmp) + "/*")
            paths += [os.path.relpath(folder, C.tmp) + "/" + n for n in name_order(names)]
    (status, windows, err), (linux_status, linux, _) = qvrc(*patterns, *args), qvr(*paths, *args)
    check((status, linux_status) == (1, 1), "exit status %d under Wine, %d on Linux" % (status, linux_status))
    check([w["path"] for w in windows] == paths + args, "qvrc.exe expanded the patterns to other paths or order")
    check(err == "qvrc: made/names/無い?￥.png: no such file\r\n".encode("cp932"), "the messages read %r" % err)
    want = [(n, w) for w, n in NAMES.values()] + [(n, 37) for n in likeness.values()] + [("ファイル名が不正です。", 0)]
    seen = [(l["name"], l["width"]) for l in linux[len(paths):]]
    check(seen == want, "names as arguments: %s" % seen)
    same(windows, linux, "%d files" % len(paths + args))


def usage():
    """qvrc.exe's usage text is qvr's (tests/cli/options_documented.sh) under its own name, plus lines on patterns."""
    runs = [subprocess.run(command, env=C.env, capture_output=True, timeout=60)
            for command in ([C.wine, C.qvrc, "--help"], [C.qvr, "--help"])]
    windows, linux = [[line for line in run.stdout.decode("cp932").replace("Usage: qvrc ", "Usage: qvr ").splitlines()
                       if line] for run in runs]
    added = [line for line in windows if line not in linux]
    check([run.returncode for run in runs] == [0, 0] and [line for line in windows if line in linux] == linux
          and not any(line.startswith("  -") for line in added), "qvrc.exe --help adds %s to qvr's" % added)


def patterns():
    """A pattern matches as the system's search by the long name only (not abc.html for *.htm); no device opened."""
    names = ["é.png", "ñ.png", "😀.png", "Noext", "abc.html", "Ab.gif", "p00.png", "p01.png", "com1.png"]
    copies(os.path.join(C.tmp, "patterns"), names)
    cases = [("É*.png", ["é.png"]), ("Ñ*", ["ñ.png"]), ("??.png", ["😀.png"]), ("?.png", ["é.png", "ñ.png"]),
             ("*.htm", ["*.htm"]), ("*.*", name_order(names)), ("aB.*", ["Ab.gif"]),
             ("p0?.png", ["p00.png", "p01.png"]), ("co*.png", ["com1.png"])] + [(n, [n]) for n in ("COM1.jpg", "AUX.png", "con.bmp", "LPT1.gif")]
    status, lines, _ = qvrc(*[p for p, _ in cases], cwd=os.path.join(C.tmp, "patterns"))
    size = os.path.getsize(os.path.join(C.tmp, "made", "a.png"))
    device = ("com1", "aux", "con", "lpt1")  # what the shell says of them: no scale or colours (0x30), no size
    want = [(p, 0, 0x30) if p.split(".")[0].lower() in device else (p, 0, 0x0b) if "*" in p else (p, size, None)
            for _, paths in cases for p in paths]
    seen = [(line["path"], line["fileSize"], None if line["fileSize"] else line["flags"]) for line in lines]
    check((status, seen) == (1, want), "exit status %d, %s; expected 1, %s" % (status, seen, want))


def walked(args, want, prefix, links=()):
    """qvrc -r ARGS gives qvr -r's lines `want`, `prefix` for qvr's first name; links to folders without a size."""
    status, windows, err = qvrc("-r", *args, timeout=30)  # a link followed is a walk without end
    check((status, err) == (0, b""), "qvrc -r %s: exit status %d, %r" % (" ".join(args), status, err))
    want, top = copy.deepcopy(want), want[0]["path"].split("/")[0]
    for line in windows:
        line["path"] = top + line["path"][len(prefix):].replace("\\", "/")
    for line in windows + want:
        if line["path"] in links:
            line.pop("fileSize"), line["texts"].pop("size")
    same(windows, want, "qvrc -r %s" % " ".join(args))


def listed_names():
    """Names a pattern or a walk listed are opened as listed (x.png. beside x.png), typed ones trimmed unless under
    \\\\?\\; a trailing separator names the folder before it."""
    make_dots(os.path.join(C.tmp, "dots"))
    listed = name_order(n for n in os.listdir(os.path.join(C.tmp, "dots")) if n not in ("dir", "dir."))
    for args, names in ((["dots/*"], listed), (["dots/x.p*", "dots/y*"], [n for n in listed if n[0] in "xy"])):
        (status, windows, _), (linux_status, linux, _) = qvrc(*args), qvr(*["dots/" + n for n in names])
        got = [w["path"] for w in windows]
        check((status, linux_status, got) == (0, 0, ["dots/" + n for n in names]), "%s: exit status %d, %s" % (
            args, status, got))
        same(windows, linux, args)
    exact = "\\\\?\\" + win_path(os.path.join(C.tmp, "dots", "x.png."))
    lines = qvrc("dots\\dir.\\*", "dots\\x.png.", "dots\\x.png ", "dots\\x.png. .", exact)[1]
    seen = [(line["name"], line["fileSize"], line["width"]) for line in lines]
    check(seen == [("in.png", 33, 64)] + [("x.png", 33, 61)] * 3 + [("x.png.", 43, 0)], "typed names: %s" % seen)
    # dir. is walked as itself, and so is lone., which has no lone beside it; the argument stays typed (dots.).
    copies(os.path.join(C.tmp, "dots"), ["lone./in.png"])
    root = "\\\\?\\" + win_path(os.path.join(C.tmp, "dots"))
    linux = qvr("-r", "dots")[1]
    for args, prefix in ((["dots"], "dots"), (["dots."], "dots."), (["-j", "1", "dots"], "dots"), ([root], root),
                         (["dots\\*"], "dots")):
        walked(args, linux, prefix)
    # "dots " typed names the folder dots, but "dots \\in.png" would not reach its entries: not walked, an entry.
    status, lines, err = qvrc("-r", "dots ", timeout=60)
    check((status, [(line["path"], line["name"]) for line in lines], err) == (0, [("dots ", "dots")], b""),
          "a typed folder ending in a blank, walked: exit status %d, %s, %r" % (status, lines, err))
    status, lines, err = qvrc("C:\\", "C:\\windows\\", "dots\\dir\\", "dots\\dir.\\", "dots\\x.png\\")
    seen = [(line["name"], line["fileSize"], line["flags"], line["typeName"] != "ファイルタイプを取得できません。")
            for line in lines]
    seen[-1] = seen[-1][:2] + (seen[-1][2] & ~1,)  # whether the shell answers for x.png\ is its own affair
    want = [(name, 0, 0x30, True) for name in ("C:", "windows", "dir", "dir")] + [("ファイル名が不正です。", 0, 0x0a)]
    check((status, seen, err) == (1, want, "qvrc: dots\\x.png\\: no such file\r\n".encode()),
          "trailing separators: exit status %d, %s, %r" % (status, seen, err))


def tree():
    """A tree walked as by Linux qvr -r, links entries and never walked; a pattern walks the folders it matches."""
    root = os.path.join(C.tmp, "tree")
    for name, source in {"a.png": "a.png", "B.gif": "a.gif", "café.png": "a.png", "sub/한국.jpg": "a.jpg",
                         "sub/x.bmp": "b.bmp", "sub/deeper/😀.png": "a.png", "sub/deeper/𠮷.mng": "a.mng",
                         "sub/deeper/note.txt": "note.txt", "zz/last.png": "a.png"}.items():
        copies(root, [name], source)
    os.mkdir(os.path.join(root, "empty"))
    for link, target in (("link", "sub"), ("sub/up", ".."), ("filelink", "a.png")):  # up: a loop, were it followed
        os.symlink(target, os.path.join(root, link))
    linux, top = qvr("-r", "tree")[1], qvr("-r", *["tree/" + name for name in name_order(os.listdir(root))])[1]
    for args, want in ((["-j", "1", "tree"], linux), (["-j", "4", "tree"], linux), (["tree"], linux),
                       (["tree\\*"], top)):
        walked(args, want, "tree", ("tree/link", "tree/sub/up", "tree/link/up"))  # tree\*: the link given is walked
    # Past 777 bytes (MAX_PATH - 1 units of up to three bytes) a path is too long for Windows, not for Wine.
    folder = os.path.join(C.tmp, "deep")
    for _ in range(8):
        folder = os.path.join(folder, "深" * 40)
        write(os.path.join(folder, "f.png"), b"")
    status, lines, err = qvrc("-r", "deep")
    check(status == 1 and len(lines) == 6 and err.decode("cp932").count(": cannot read the folder: the path is too long")
          == 1, "a tree deeper than a path can be long: exit status %d, %d lines, %r" % (status, len(lines), err))


def swapped_folder():
    """A folder swapped for a link outside the tree while the walk waits to write is the entry it now is."""
    folder = os.path.join(C.tmp, "swap")
    for name in ["t/a/f%04d.png" % i for i in range(1500)] + ["t/b/b0.png", "t/b/b1.png", "outside/o0.png"]:
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        os.link(os.path.join(C.tmp, "made", "a.png"), os.path.join(folder, name))
    for jobs in ("1", "8"):  # far more entries in t/a than the pipe, the output buffer and the window hold
        run = subprocess.Popen([C.wine, C.qvrc, "-r", "--json", "-j", jobs, "t"], cwd=folder, env=C.env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, bufsize=0)
        first = run.stdout.readline()
        os.rename(os.path.join(folder, "t", "b"), os.path.join(folder, "b.real"))
        os.symlink(os.path.join("..", "outside"), os.path.join(folder, "t", "b"))
        try:
            out, err = run.communicate(timeout=120)
        finally:
            run.kill()
            os.remove(os.path.join(folder, "t", "b"))
            os.rename(os.path.join(folder, "b.real"), os.path.join(folder, "t", "b"))
        paths = [json.loads(line)["path"] for line in (first + out).decode().splitlines()]
        check((run.returncode, err, paths) == (0, b"", ["t\\a\\f%04d.png" % i for i in range(1500)] + ["t\\b"]),
              "-j %s: exit status %d, %r, %d lines, the last %s" % (jobs, run.returncode, err, len(paths), paths[-3:]))


def mounts():
    """As root: a tmpfs inside the tree is an entry, -x or not; the tree bound beneath itself gets one message."""
    folder = os.path.join(C.tmp, "mounts")
    mnt, loop = os.path.join(folder, "t", "mnt"), os.path.join(folder, "t", "a", "loop")
    copies(folder, ["t/a/f0.png", "t/mnt/.keep", "t/a/loop/.keep"])
    if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "qvr-test", mnt],
                                           capture_output=True).returncode != 0:
        return print("mounts: skipped (not root, or tmpfs cannot be mounted here)")
    try:
        copies(mnt, ["m.png"])
        looped = subprocess.run(["mount", "--bind", os.path.join(folder, "t"), loop], capture_output=True).returncode == 0
        want = (1 if looped else 0, ["t\\a\\f0.png", "t\\mnt"],
                "qvrc: t\\a\\loop: not walked: a loop in the file system leads back to t\r\n" if looped else "")
        for options in (["-r"], ["-r", "-x"], ["--one-file-system", "-r", "-j", "1"]):
            status, lines, err = qvrc(*options, "t", cwd=folder, timeout=60)
            got = (status, [line["path"] for line in lines], err.decode())
            check(got == want, "%s: %s" % (options, got))
    finally:
        subprocess.run(["umount", loop], capture_output=True)
        subprocess.run(["umount", mnt], capture_output=True)


def held_up(run, path, pipe):
    """Whether the run is held up: the probe in `path`, or without one its output: over 32 KiB in the pipe and no
    more for a second (under Wine at -j 8 the pipe never holds more than about 50 KiB)."""
    if not path:
        waiting = bytearray(4)
        fcntl.ioctl(run.stdout.fileno(), termios.FIONREAD, waiting)
        pipe[:] = pipe if pipe[:1] == [waiting] else [waiting, time.monotonic()]
        return struct.unpack("i", waiting)[0] > 32768 and time.monotonic() - pipe[1] > 1
    try:
        return any(os.path.realpath("/proc/%d/fd/%s" % (run.pid, fd)) == path for fd in os.listdir("/proc/%d/fd" % run.pid))
    except OSError:  # ended, or a descriptor closed meanwhile
        return False


def stopping():
    """A reader gone ends the run with status 2; Ctrl+C (SIGINT under Wine) with 130 within 1.5 s and whole lines
    whatever holds it up: a reader that does not read, or reads once stopped, or a probe of 1 GiB of segments."""
    run = subprocess.Popen([C.wine, C.qvrc, "-r", "--json", "-j", "1", "testdata", "made"], cwd=C.tmp, env=C.env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    json.loads(run.stdout.readline())
    run.stdout.close()
    err, status = run.stderr.read(), run.wait(timeout=60)
    check((status, err) == (2, b""), "a reader gone: exit status %d, %r" % (status, err))
    folder = os.path.join(C.tmp, "stop")
    copies(folder, ["first.png"] + ["t/f%04d.png" % i for i in range(2000)])  # far more output than the pipe holds
    big = os.path.join(C.tmp, "made", "big.jpg")  # under Windows its 4 GiB of zeros are read: many seconds
    for what, args, reads, probe in (("a reader that does not read", ["-r", "t"], False, None),
                                     ("a reader that reads once stopped", ["-r", "t"], True, None),
                                     ("a long probe", ["first.png", "../made/big.jpg", "t"], True, big)):
        for jobs in ("1", "8"):
            run = subprocess.Popen([C.wine, C.qvrc, "--json", "-j", jobs, *args], cwd=folder, env=C.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, bufsize=0)
            started, pipe = time.monotonic(), []
            while run.poll() is None and time.monotonic() - started < 60 and not held_up(run, probe, pipe):
                time.sleep(0.01)
            run.send_signal(signal.SIGINT)
            stopped = time.monotonic()
            out = run.stdout.read() if reads else b""
            try:
                run.wait(timeout=20)
            finally:
                run.kill()
            seconds, err = time.monotonic() - stopped, run.stderr.read()
            print("Ctrl+C, %s, -j %s: %.2f s" % (what, jobs, seconds))
            check((run.returncode, err) == (130, b"") and seconds <= 1.5, "Ctrl+C, %s, -j %s: exit status %d after "
                  "%.1f s, %r" % (what, jobs, run.returncode, seconds, err))
            lines = out.decode("utf-8").splitlines(keepends=True)
            check(all(line.endswith("\n") and json.loads(line) for line in lines) and b"big.jpg" not in out and not (
                probe and jobs == "8" and [json.loads(line)["path"] for line in lines] != ["first.png"]),
                "Ctrl+C, %s, -j %s: the output ends %r" % (what, jobs, out[-80:]))


def unreadable():
    """Files held without sharing, of mode 000 or below a folder that cannot be searched show placeholders and a
    message, never 未サポート, at -j 1 and -j 8 alike; root's capabilities are dropped, the Wine server's too."""
    folder, unread = os.path.join(C.tmp, "unreadable"), ("??? × ??? Pixel", "??? 色")
    copies(folder, ["held.png", "held.txt", "denied.png", "denied.txt", "deny/x.png", "deny/x.txt"])
    copies(folder, ["held.jpg"], "a.jpg")

    def runs(command, names):
        got = [subprocess.run(command + ["--json", "-j", jobs, *names], cwd=folder, env=C.env, capture_output=True,
                              timeout=120) for jobs in ("1", "8")]
        check((got[0].returncode, got[0].stdout, got[0].stderr) == (got[1].returncode, got[1].stdout, got[1].stderr),
              "%s: -j 1 and -j 8 differ: %r, %r" % (names, got[0].stderr, got[1].stderr))
        return got[0].returncode, [json.loads(line) for line in got[0].stdout.decode().splitlines()], got[0].stderr

    holder = Driver(C.wine, os.path.join(os.path.dirname(C.qvrc), "qvr_dialog_driver.exe"), C.qvrc, "Z:\\", C.env)
    try:
        holder.hold(os.path.join(folder, "held.png"))
        holder.hold(os.path.join(folder, "held.jpg"))
        status, lines, err = runs([C.wine, C.qvrc], ["held.png", "held.jpg", "held.txt"])
    finally:
        holder.close()
    messages = err.decode("cp932").splitlines()
    check(status == 1 and [m.rpartition(": ")[0] for m in messages] == [
        "qvrc: held.png: cannot read the file", "qvrc: held.jpg: cannot read the file"] and all(
        m.rpartition(": ")[2] for m in messages), "held files: exit status %d, %r" % (status, messages))
    seen = [(l["path"], l["flags"], l["texts"]["scale"], l["texts"]["colors"]) for l in lines]
    check(seen == [("held.png", 0, *unread), ("held.jpg", 0, *unread), ("held.txt", 0x30, "未サポート", "未サポート")],
          "held files: %s" % seen)
    names = ["denied.png", "denied.txt", "deny/x.png", "deny/x.txt", "gone.png", "held.png"]
    for name, mode in (("denied.png", 0), ("denied.txt", 0), ("deny", 0o600)):  # deny: listed, not searched
        os.chmod(os.path.join(folder, name), mode)
    capless = ["setpriv", "--bounding-set=-all", "--inh-caps=-all"] if os.geteuid() == 0 else []
    try:
        subprocess.run([WINESERVER, "-k"], env=C.env, timeout=60)  # the next server starts without them too
        status, windows, err = runs(capless + [C.wine, C.qvrc], names)
        subprocess.run([WINESERVER, "-k"], env=C.env, timeout=60)
        linux_status, linux, linux_err = runs(capless + [C.qvr], names)
    finally:
        os.chmod(os.path.join(folder, "deny"), 0o755)
    want = b"".join(b"qvr: %s: %s\n" % (n.encode(), m) for n, m in (
        ("denied.png", b"cannot read the file: Permission denied"), ("deny/x.png", b"cannot read the file: Permission denied"),
        ("deny/x.txt", b"cannot read the file: Permission denied"), ("gone.png", b"no such file")))
    windows_err = err.replace(b"qvrc: ", b"qvr: ").replace(b"\r\n", b"\n")
    check((status, windows_err, linux_status, linux_err) == (1, want, 1, want), "denied files: exit status %d under "
          "Wine, %d on Linux, %r, %r" % (status, linux_status, err, linux_err))
    same(windows, linux, "denied files")


def big_folder():
    """A folder of 20,000 entries is opened a few times by a pattern and by a walk, not once per 128 names (over 150
    times). Its parent is watched: what the walk opens inside counts for nothing."""
    parent = os.path.join(C.tmp, "big")
    for i in range(20000):
        os.makedirs(os.path.join(parent, "big", "g%05d" % i))
    write(os.path.join(parent, "big", "g19999", "f.png"), b"")
    watch = watch_opens(parent)
    try:
        for args in (["-r", "big\\*"], ["-r", "big"]):
            status, lines = qvrc(*args, cwd=parent)[:2]
            got = status, [line["path"] for line in lines], opened(watch).count("big")
            check(got[:2] == (0, ["big\\g19999\\f.png"]) and got[2] < 20, "qvrc %s: exit status %d, %s, the folder "
                  "opened %d times" % (args, *got))
    finally:
        os.close(watch)


CASES = {f.__name__: f for f in (files, usage, patterns, listed_names, tree, swapped_folder, mounts, stopping,
                                 unreadable, big_folder)}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("qvrc", "qvr", "testdata"):
        parser.add_argument("--" + name, required=True, type=os.path.abspath)
    parser.add_argument("cases", nargs="*", help="some of %s (default: all; files makes what the others use)"
                        % ", ".join(CASES))
    args = parser.parse_args()
    for path, what in ((args.testdata, "test images"), (args.qvr, "Linux qvr (native preset)")):
        if not os.path.exists(path):
            print("skipped: no %s at %s" % (what, path))
            return SKIPPED
    C.tmp, C.qvr, C.env = tempfile.mkdtemp(prefix="qvr-cli-"), args.qvr, None
    try:
        os.symlink(args.testdata, os.path.join(C.tmp, "testdata"))
        make_files(os.path.join(C.tmp, "made"))
        C.wine, (C.qvrc,) = choose(args.qvrc)
        C.env = wine_prefix(C.tmp, C.wine)
        return run_cases(CASES, args.cases, lambda case: case())
    finally:
        if C.env:
            subprocess.run([WINESERVER, "-k"], env=C.env, timeout=60)
        shutil.rmtree(C.tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
