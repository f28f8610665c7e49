#!/usr/bin/env python3
"""qvrc.exe under Wine (wine_build.py) against Linux qvr: the same JSON, the shell's type name aside,
for every shared test image and made file (qvrc.exe expands the folder patterns itself), then names
ending in dots or blanks, names code page 932 cannot hold as arguments, what patterns match, a tree
walked with -r at several job counts, a closed pipe and Ctrl+C, the time a folder of 20,000 entries
takes, and DOS device names beside patterns. Exit status 77 (skipped) without the test images or the
Linux build."""
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

from run_e2e import NAMES, WINESERVER, make_dots, wine_prefix, write, write_names
from wine_build import choose

SKIPPED = 77


def make_files(folder):
    """One or more files of each format, a Japanese name, and files no detector knows."""
    os.makedirs(folder)
    magick = [("a.bmp", ["-type", "TrueColor"]), ("b.bmp", ["-type", "Palette", "-colors", "16"]),
              ("c.bmp", ["-define", "bmp:format=bmp2"]), ("a.gif", []), ("a.png", []), ("a.mng", []),
              ("a.jpg", ["-quality", "80"]), ("b.jpeg", ["-colorspace", "Gray"]), ("画像.png", [])]
    for name, options in magick:
        subprocess.run(["convert", "-size", "37x21", "plasma:", *options, os.path.join(folder, name)], check=True)
    files = {"a.pxa": b"Pixia" + bytes(223) + struct.pack("<II", 640, 480),
             "a.rif": b"\x00\x02\x00\x01" + struct.pack(">HH", 30, 40), "note.txt": b"text\n", "noext": b""}
    for name, data in files.items():
        write(os.path.join(folder, name), data)
    # Sparse files past what 32 bits hold: 3 GiB (sign), 4 GiB (low word 0), 5 GiB + 3, and a JPEG whose
    # frame header lies 1 MiB past 4 GiB, after zeros and `00 02`, where the jump over them lands. The
    # body of its first segment is FF C0 over and over: a read 4 GiB early meets a frame, not zeros.
    for ext, size in (("gif", 3 << 30), ("bmp", 4 << 30), ("png", (5 << 30) + 3)):
        os.truncate(shutil.copy(os.path.join(folder, "a." + ext), os.path.join(folder, "big." + ext)), size)
    jfif = b"\xff\xd8\xff\xe0\0\x10JFIF\0\1\1\0\0\1\0\1\0\0\xff\xfe\xff\xfe" + b"\xff\xc0" * 32766
    with open(write(os.path.join(folder, "big.jpg"), jfif), "r+b") as f:
        f.seek((1 << 32) + (1 << 20) - 2), f.write(b"\0\2\xff\xc0\0\x11\x08\1\x23\4\x56\3")
    with open(os.path.join(folder, "a.png"), "rb") as f:
        write_names(os.path.join(folder, "names"), f.read())


def json_lines(command, cwd, env=None, timeout=300):
    run = subprocess.run(command, cwd=cwd, env=env, capture_output=True, timeout=timeout)  # a walk without end
    return run.returncode, [json.loads(line) for line in run.stdout.decode("utf-8").splitlines()], run.stderr


def differences(windows, linux):
    """Where qvrc.exe's lines and qvr's differ, the shell's type names aside."""
    found = [] if len(windows) == len(linux) else ["%d lines from qvrc.exe, %d from qvr" % (len(windows), len(linux))]
    for w, l in zip(windows, linux):
        for line in (w, l):
            del line["typeName"], line["texts"]["type"]
        if w != l:
            found.append("%s:\n  qvrc.exe %s\n  qvr      %s" % (l["path"], w, l))
    return found


def name_order(names):
    """The order of a pattern's matches and of a folder's entries: ASCII letters in either case alike, then bytes."""
    return sorted(names, key=lambda n: (n.encode().lower(), n.encode()))


def check_patterns(wine, qvrc, folder, env, png):
    """A pattern stands for what the system's search matches by the long name: letters beyond ASCII in either
    case, `?` one UTF-16 unit (two for a character beyond the first plane), "*.*" every name; what only a short
    (8.3) name matched (abc.html for *.htm) is dropped. One folder read per pattern, in name order."""
    names = ["é.png", "ñ.png", "😀.png", "Noext", "abc.html", "Ab.gif"]
    for name in names:
        write(os.path.join(folder, name), png)
    cases = [("É*.png", ["é.png"]), ("Ñ*", ["ñ.png"]), ("??.png", ["😀.png"]), ("?.png", ["é.png", "ñ.png"]),
             ("*.htm", ["*.htm"]), ("*.*", name_order(names)), ("aB.*", ["Ab.gif"])]
    status, lines, _ = json_lines([wine, qvrc, "--json", *[p for p, _ in cases]], folder, env)
    want = [path for _, paths in cases for path in paths]
    got = [line["path"] for line in lines]
    return [] if (status, got) == (1, want) else ["patterns: exit status %d, %s; expected 1, %s" % (status, got, want)]


def check_listed_names(wine, qvrc, qvr, tmp, env):
    """A name a pattern matched is opened as listed: x.png. (a JPEG) beside x.png, "y.png " beside y.png, each
    the same line as Linux qvr gives for it, where typed they would reach their neighbours. A typed folder
    dir. is dir, as the system opens it; a typed \\\\?\\ path is opened as written. A trailing separator names
    the folder before it, a drive's root too; after a file's name it names nothing."""
    make_dots(os.path.join(tmp, "dots"))
    failures = []
    listed = name_order(n for n in os.listdir(os.path.join(tmp, "dots")) if n not in ("dir", "dir."))
    for patterns, names in ((["dots/*"], listed), (["dots/x.p*", "dots/y*"], [n for n in listed if n[0] in "xy"])):
        status, windows, _ = json_lines([wine, qvrc, "--json", *patterns], tmp, env)
        linux_status, linux, _ = json_lines([qvr, "--json", *["dots/" + n for n in names]], tmp)
        if (status, linux_status) != (0, 0) or [w["path"] for w in windows] != ["dots/" + n for n in names]:
            failures.append("listed names, %s: exit status %d, %s" % (patterns, status, [w["path"] for w in windows]))
        failures += ["listed names, %s: %s" % (patterns, d) for d in differences(windows, linux)]
    exact = "\\\\?\\Z:" + os.path.join(tmp, "dots", "x.png.").replace("/", "\\")
    _, lines, _ = json_lines([wine, qvrc, "--json", "dots\\dir.\\*", "dots\\x.png.", exact], tmp, env)
    seen = [(line["name"], line["fileSize"], line["width"]) for line in lines]
    if seen != [("in.png", 33, 64), ("x.png", 33, 61), ("x.png.", 43, 0)]:
        failures.append("typed names: %s" % seen)
    # Walked, each name below the argument is the one listed, folders too: dir. is walked as itself, each entry
    # once with its own facts, and so is lone., which has no lone beside it. The argument stays typed (dots. is
    # dots), and a folder a pattern matched is listed.
    os.mkdir(os.path.join(tmp, "dots", "lone."))
    shutil.copy(os.path.join(tmp, "dots", "dir", "in.png"), os.path.join(tmp, "dots", "lone."))
    root = "\\\\?\\Z:" + os.path.join(tmp, "dots").replace("/", "\\")
    linux_status, linux, _ = json_lines([qvr, "-r", "--json", "dots"], tmp)
    for args, prefix in ((["dots"], "dots"), (["dots."], "dots."), (["-j", "1", "dots"], "dots"), ([root], root),
                         (["dots\\*"], "dots")):
        status, windows, err = json_lines([wine, qvrc, "-r", "--json", *args], tmp, env, timeout=60)
        for line in windows:
            line["path"] = "dots" + line["path"][len(prefix):].replace("\\", "/")
        if (status, err) != (0, b""):
            failures.append("listed names walked, %s: exit status %d, %r" % (args, status, err))
        failures += ["listed names walked, %s: %s" % (args, d) for d in differences(windows, copy.deepcopy(linux))]
    # "dots " typed names the folder dots, but "dots \\in.png" would not reach its entries: not walked, an entry.
    status, lines, err = json_lines([wine, qvrc, "-r", "--json", "dots "], tmp, env, timeout=60)
    if (status, [(line["path"], line["name"]) for line in lines], err) != (0, [("dots ", "dots")], b""):
        failures.append("a typed folder ending in a blank, walked: exit status %d, %s, %r" % (status, lines, err))
    folders = ["C:\\", "C:\\windows\\", "dots\\dir\\", "dots\\dir.\\", "dots\\x.png\\"]
    status, lines, err = json_lines([wine, qvrc, "--json", *folders], tmp, env)
    seen = [(line["name"], line["fileSize"], line["flags"], line["typeName"] != "ファイルタイプを取得できません。")
            for line in lines]
    seen[-1] = seen[-1][:2] + (seen[-1][2] & ~1,)  # whether the shell answers for x.png\ is its own affair
    want = [(name, 0, 0x30, True) for name in ("C:", "windows", "dir", "dir")] + [("ファイル名が不正です。", 0, 0x0a)]
    if (status, seen, err) != (1, want, "qvrc: dots\\x.png\\: no such file\r\n".encode()):
        failures.append("trailing separators: exit status %d, %s, %r" % (status, seen, err))
    return failures


def make_tree(root, made):
    """Nested folders of made files, names code page 932 cannot hold, an empty folder, a link to a folder
    beside it, one back up to its parent (a loop, were it followed) and one to a file."""
    files = {"a.png": "a.png", "B.gif": "a.gif", "café.png": "a.png", "sub/한국.jpg": "a.jpg", "sub/x.bmp": "b.bmp",
             "sub/deeper/😀.png": "a.png", "sub/deeper/𠮷.mng": "a.mng", "sub/deeper/note.txt": "note.txt",
             "zz/last.png": "a.png"}
    for name, source in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
        shutil.copy(os.path.join(made, source), os.path.join(root, name))
    os.mkdir(os.path.join(root, "empty"))
    os.symlink("sub", os.path.join(root, "link"))
    os.symlink("..", os.path.join(root, "sub", "up"))
    os.symlink("a.png", os.path.join(root, "filelink"))


def walked(lines, links):
    """Lines of a walk with '/' between names; a link to a folder without its size, which Linux gives and
    Windows does not."""
    for line in lines:
        line["path"] = line["path"].replace("\\", "/")
        if line["path"] in links:
            line.pop("fileSize"), line["texts"].pop("size")
    return lines


def check_tree(wine, qvrc, qvr, tmp, env):
    """qvrc -r walks a tree as Linux qvr -r does, at 1, 4 and the default number of jobs: the same lines in
    the same order; a link is an entry of its folder and never walked. A pattern under -r stands for the
    matching folders too, each walked in its turn."""
    make_tree(os.path.join(tmp, "tree"), os.path.join(tmp, "made"))
    links = ("tree/link", "tree/sub/up")
    linux_status, linux, err = json_lines([qvr, "-r", "--json", "tree"], tmp)
    failures = [] if linux_status == 0 and not err else ["tree: Linux qvr -r exit status %d, %r" % (linux_status, err)]
    paths = [line["path"] for line in linux]
    if not set(links) <= set(paths) or any(p.startswith(l + "/") for p in paths for l in links):
        failures.append("tree: Linux qvr -r does not take links as entries: %s" % paths)
    top = ["tree/" + name for name in name_order(os.listdir(os.path.join(tmp, "tree")))]
    _, linux_top, _ = json_lines([qvr, "-r", "--json", *top], tmp)
    runs = [(["-j", "1", "tree"], linux, links), (["-j", "4", "tree"], linux, links), (["tree"], linux, links),
            (["tree\\*"], linux_top, links + ("tree/link/up",))]  # a link named by the user is walked
    for args, want, entries in runs:
        try:  # a link followed is a walk without end: the links lead back up
            status, windows, err = json_lines([wine, qvrc, "-r", "--json", *args], tmp, env, timeout=30)
        except subprocess.TimeoutExpired:
            return failures + ["tree, qvrc -r %s: no end in 30 s" % " ".join(args)]
        if (status, err) != (0, b""):
            failures.append("tree, qvrc -r %s: exit status %d, %r" % (" ".join(args), status, err))
        failures += ["tree, qvrc -r %s: %s" % (" ".join(args), f)
                     for f in differences(walked(windows, entries), walked(copy.deepcopy(want), entries))]

    # Past 777 bytes a path is too long for Windows (MAX_PATH - 1 units of up to three bytes), though
    # Wine would take it: the seventh folder (851 bytes) gets its message, the six above give their files.
    folder = os.path.join(tmp, "deep")
    for _ in range(8):
        folder = os.path.join(folder, "深" * 40)
        write(os.path.join(folder, "f.png"), b"")
    status, lines, err = json_lines([wine, qvrc, "-r", "--json", "deep"], tmp, env)
    if status != 1 or len(lines) != 6 or err.decode("cp932").count(": cannot read the folder: the path is too long") != 1:
        failures.append("a tree deeper than a path can be long: exit status %d, %d lines, %r" % (status, len(lines), err))
    return failures


def check_swapped_folder(wine, qvrc, tmp, env):
    """A folder swapped for a link to a folder outside the tree while the walk waits to write (its reader reads
    one line, then waits for the swap) is the entry it now is: nothing beneath the link is walked or read. Under
    Wine a Unix link to a folder opens as that folder even with FILE_FLAG_OPEN_REPARSE_POINT, so what tells is
    that the folder opened is not the one listed (another file id)."""
    folder, failures = os.path.join(tmp, "swap"), []
    for name in ["t/a/f%04d.png" % i for i in range(1500)] + ["t/b/b0.png", "t/b/b1.png", "outside/o0.png"]:
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        os.link(os.path.join(tmp, "made", "a.png"), os.path.join(folder, name))
    for jobs in ("1", "8"):  # far more entries in t/a than the pipe, the output buffer and the window hold
        run = subprocess.Popen([wine, qvrc, "-r", "--json", "-j", jobs, "t"], cwd=folder, env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, bufsize=0)  # one line read, no more
        first = run.stdout.readline()
        os.rename(os.path.join(folder, "t", "b"), os.path.join(folder, "b.real"))
        os.symlink(os.path.join("..", "outside"), os.path.join(folder, "t", "b"))
        try:
            out, err = run.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            run.kill()
            out, err = run.communicate()
            failures.append("a folder swapped for a link, -j %s: no end in 120 s" % jobs)
        paths = [json.loads(line)["path"] for line in (first + out).decode().splitlines()]
        want = ["t\\a\\f%04d.png" % i for i in range(1500)] + ["t\\b"]
        if (run.returncode, err, paths) != (0, b"", want):
            failures.append("a folder swapped for a link, -j %s: exit status %d, %r, %d lines, the last %s" % (
                jobs, run.returncode, err, len(paths), paths[-3:]))
        os.remove(os.path.join(folder, "t", "b"))
        os.rename(os.path.join(folder, "b.real"), os.path.join(folder, "t", "b"))
    return failures


def check_mounts(wine, qvrc, tmp, env):
    """With root's right to mount: a tmpfs mounted inside the tree is an entry, with -x and without, as a volume's
    mount point is on Windows (a name surrogate). Wine lists a Unix mount point as a reparse point without a tag
    (file id 0), so -x itself is not seen here: the walk never reaches a folder on another volume. The tree bound
    again beneath itself, on the same device, has the tree's volume and file id: one message, walked once."""
    folder = os.path.join(tmp, "mounts")
    mnt, loop = os.path.join(folder, "t", "mnt"), os.path.join(folder, "t", "a", "loop")
    for name in ("t/a/f0.png", "t/mnt/.keep", "t/a/loop/.keep"):
        write(os.path.join(folder, name), b"")
    if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "qvr-test", mnt],
                                           capture_output=True).returncode != 0:
        print("mounts: skipped (not root, or tmpfs cannot be mounted here)")
        return []
    failures = []
    try:
        shutil.copy(os.path.join(tmp, "made", "a.png"), os.path.join(mnt, "m.png"))
        shutil.copy(os.path.join(tmp, "made", "a.png"), os.path.join(folder, "t", "a", "f0.png"))
        looped = subprocess.run(["mount", "--bind", os.path.join(folder, "t"), loop], capture_output=True).returncode == 0
        want = (["t\\a\\f0.png", "t\\mnt"], "qvrc: t\\a\\loop: not walked: a loop in the file system leads back to t\r\n"
                if looped else "")
        for options in (["-r"], ["-r", "-x"], ["--one-file-system", "-r", "-j", "1"]):
            status, lines, err = json_lines([wine, qvrc, "--json", *options, "t"], folder, env, timeout=60)
            if (status, ([line["path"] for line in lines], err.decode())) != (1 if looped else 0, want):
                failures.append("mounts, %s: exit status %d, %s, %r" % (options, status, [l["path"] for l in lines], err))
    finally:
        subprocess.run(["umount", loop], capture_output=True)
        subprocess.run(["umount", mnt], capture_output=True)
    return failures


def pipe_bytes(pipe):
    """How many bytes wait in the pipe for its reader."""
    waiting = bytearray(4)
    fcntl.ioctl(pipe.fileno(), termios.FIONREAD, waiting)
    return struct.unpack("i", waiting)[0]


def has_open(pid, path):
    """Whether the process has `path` open now."""
    try:
        return any(os.path.realpath("/proc/%d/fd/%s" % (pid, fd)) == path for fd in os.listdir("/proc/%d/fd" % pid))
    except OSError:  # ended, or a descriptor closed meanwhile
        return False


def check_stopping(wine, qvrc, tmp, env):
    """A reader that goes away ends qvrc -r with status 2 and no message. Ctrl+C (SIGINT, which Wine hands to the
    program as the console's Ctrl+C) ends the run with status 130 within a bound whatever holds it up: its output
    blocked by a reader that does not read (it then ends after the grace period), or that reads again once it is
    stopped, or a probe deep in a file that takes seconds to walk (a JFIF of 1 GiB of small segments, about 8 s
    under Wine), at -j 1 and -j 8. The output then ends on a whole line, and the probe in hand is never printed.
    The time is taken from the signal, sent once the run is held up, so Wine's start (about 0.7 s) is not in it;
    here stops take 0.3 s (the grace period) or less, a run that waits for its reader or its probe many seconds."""
    failures = []
    command = [wine, qvrc, "-r", "--json", "-j", "1", "testdata", "made"]
    run = subprocess.Popen(command, cwd=tmp, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    json.loads(run.stdout.readline())
    run.stdout.close()
    err, status = run.stderr.read(), run.wait(timeout=60)
    if (status, err) != (2, b""):
        failures.append("a reader gone: exit status %d, %r" % (status, err))

    folder = os.path.join(tmp, "stop")
    os.makedirs(os.path.join(folder, "t"))
    for i in range(2000):  # far more output than the pipe holds
        os.link(os.path.join(tmp, "made", "a.png"), os.path.join(folder, "t", "f%04d.png" % i))
    shutil.copy(os.path.join(tmp, "made", "a.png"), os.path.join(folder, "first.png"))
    long_jpeg = os.path.join(folder, "long.jpg")
    with open(long_jpeg, "wb") as f:
        f.write(b"\xff\xd8\xff\xe0\0\x10JFIF\0\1\1\0\0\1\0\1\0\0")
        segments = b"\xff\xfe\0\4ab" * ((1 << 20) // 6)
        for _ in range(1024):
            f.write(segments)
    held = [("a reader that does not read", ["-r", "t"], "full", False),
            ("a reader that reads once stopped", ["-r", "t"], "full", True),
            ("a long probe", ["first.png", "long.jpg", "t"], "probing", True)]
    for what, args, hold, reads in held:
        for jobs in ("1", "8"):
            run = subprocess.Popen([wine, qvrc, "--json", "-j", jobs, *args], cwd=folder, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, bufsize=0)
            started = time.monotonic()
            while run.poll() is None and time.monotonic() - started < 60 and not (
                    pipe_bytes(run.stdout) > 60000 if hold == "full" else has_open(run.pid, long_jpeg)):
                time.sleep(0.01)
            run.send_signal(signal.SIGINT)
            stopped = time.monotonic()
            out = run.stdout.read() if reads else b""
            try:
                run.wait(timeout=20)
            except subprocess.TimeoutExpired:
                run.kill()
                run.wait()
            seconds, err = time.monotonic() - stopped, run.stderr.read()
            print("Ctrl+C, %s, -j %s: %.2f s" % (what, jobs, seconds))
            lines = out.decode("utf-8").splitlines(keepends=True)
            if (run.returncode, err) != (130, b"") or seconds > 1.5:
                failures.append("Ctrl+C, %s, -j %s: exit status %d after %.1f s, %r" % (what, jobs, run.returncode, seconds, err))
            if not all(line.endswith("\n") and json.loads(line) for line in lines) or b"long.jpg" in out or (
                    hold == "probing" and jobs == "8" and [json.loads(line)["path"] for line in lines] != ["first.png"]):
                failures.append("Ctrl+C, %s, -j %s: the output ends %r" % (what, jobs, out[-80:]))
    return failures


def check_timing(wine, qvrc, tmp, env):
    """A folder of 20,000 entries is read once: its pattern and its walk take about as long per entry as those
    of twenty folders of 1,000. The entries are empty folders (twenty of them hold a file), walked under -r:
    under Wine the shell's answer for a file takes longer the larger its folder, whoever asks, and 20,000 files
    in one folder would take minutes to probe. Each of these entries costs about as much as reading a folder did
    before: passing over the 20,000 names once per 128 made it about three times as long. So the bound is
    twice, and a run over it is measured once more lest a burst of load elsewhere fail it."""
    def make(folder, count, files):
        os.makedirs(folder)
        for i in range(count):
            os.mkdir(os.path.join(folder, "g%05d" % i))
        for i in range(files):
            write(os.path.join(folder, "g%05d" % (i * count // files), "f.png"), b"")
        return ["%s/g%05d/f.png" % (os.path.relpath(folder, tmp), i * count // files) for i in range(files)]

    def seconds(args, paths):
        start = time.monotonic()
        status, lines, _ = json_lines([wine, qvrc, "-r", "--json", *args], tmp, env)
        if status != 0 or [line["path"].replace("\\", "/") for line in lines] != paths:
            failures.append("%s: exit status %d, %d lines" % (args[0], status, len(lines)))
        return time.monotonic() - start

    big = make(os.path.join(tmp, "big"), 20000, 20)
    small = [path for i in range(20) for path in make(os.path.join(tmp, "small", "s%02d" % i), 1000, 1)]
    failures = []
    for what, big_args, small_args in (("pattern", ["big\\*"], ["small\\s%02d\\*" % i for i in range(20)]),
                                       ("walk", ["big"], ["small"])):
        for _ in range(2):
            times = seconds(big_args, big), seconds(small_args, small)
            print("%s: %.1f s over one folder of 20,000 entries, %.1f s over folders of 1,000" % (what, *times))
            if times[0] <= 2 * times[1]:
                break
        else:
            failures.append("%s: %.1f s over one folder of 20,000 entries, %.1f s over folders of 1,000" % (what, *times))
    return failures


def check_unreadable(wine, qvrc, qvr, tmp, env):
    """Files that are there but cannot be read: one another program holds open without sharing, one the user may
    not read (mode 000) and one below a folder that cannot be searched show placeholders, never 未サポート, with a
    message naming the file and the system's reason and status 1, at -j 1 and -j 8 alike; a missing file stays
    "no such file", and a file no detector opens is no failure. Permissions are tried with the capabilities that
    let root past them dropped, from the program and the Wine server it starts; its lines and messages are then
    those of Linux qvr run the same way."""
    folder, failures = os.path.join(tmp, "unreadable"), []
    png = os.path.join(tmp, "made", "a.png")
    for name in ("held.png", "held.jpg", "held.txt", "denied.png", "denied.txt", "deny/x.png", "deny/x.txt"):
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        shutil.copy(png if not name.endswith(".jpg") else os.path.join(tmp, "made", "a.jpg"), os.path.join(folder, name))
    unread = {"scale": "??? × ??? Pixel", "colors": "??? 色"}

    def runs(command, names):
        """The runs at -j 1 and -j 8, which must agree; the first."""
        try:
            got = [subprocess.run(command + ["--json", "-j", jobs, *names], cwd=folder, env=env, capture_output=True,
                                  timeout=120) for jobs in ("1", "8")]
        except subprocess.TimeoutExpired as e:
            failures.append("%s: no end in 120 s" % e.cmd)
            return -1, [], b""
        if (got[0].returncode, got[0].stdout, got[0].stderr) != (got[1].returncode, got[1].stdout, got[1].stderr):
            failures.append("%s: -j 1 and -j 8 differ: %r, %r" % (names, got[0].stderr, got[1].stderr))
        return got[0].returncode, [json.loads(line) for line in got[0].stdout.decode().splitlines()], got[0].stderr

    driver = os.path.join(os.path.dirname(qvrc), "qvr_dialog_driver.exe")
    holder = subprocess.Popen([wine, driver, qvrc, "Z:\\"], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        replies = [holder.stdout.readline()]
        for name in ("held.png", "held.jpg"):
            holder.stdin.write(b"hold %s\n" % ("Z:" + os.path.join(folder, name).replace("/", "\\")).encode().hex().encode())
            holder.stdin.flush()
            replies.append(holder.stdout.readline())
        if [r.strip() for r in replies] != [b"ready", b"held", b"held"]:
            return ["held files: the driver answered %r" % replies]
        status, lines, err = runs([wine, qvrc], ["held.png", "held.jpg", "held.txt"])
    finally:
        holder.stdin.close()
        holder.wait(timeout=60)
    messages = err.decode("cp932").splitlines()
    if (status, [m.rpartition(": ")[0] for m in messages]) != (1, ["qvrc: held.png: cannot read the file",
                                                                   "qvrc: held.jpg: cannot read the file"]) or \
            not all(m.rpartition(": ")[2] for m in messages):
        failures.append("held files: exit status %d, %r" % (status, messages))
    seen = [(l["path"], l["flags"], l["texts"]["scale"], l["texts"]["colors"]) for l in lines]
    if seen != [("held.png", 0, *unread.values()), ("held.jpg", 0, *unread.values()), ("held.txt", 0x30, "未サポート", "未サポート")]:
        failures.append("held files: %s" % seen)

    names = ["denied.png", "denied.txt", "deny/x.png", "deny/x.txt", "gone.png", "held.png"]
    os.chmod(os.path.join(folder, "denied.png"), 0)
    os.chmod(os.path.join(folder, "denied.txt"), 0)
    os.chmod(os.path.join(folder, "deny"), 0o600)  # listed, not searched
    capless = ["setpriv", "--bounding-set=-all", "--inh-caps=-all"] if os.geteuid() == 0 else []
    try:
        subprocess.run([WINESERVER, "-k"], env=env, timeout=60)  # the next server starts without them too
        status, windows, err = runs(capless + [wine, qvrc], names)
        subprocess.run([WINESERVER, "-k"], env=env, timeout=60)
        linux_status, linux, linux_err = runs(capless + [qvr], names)
    finally:
        os.chmod(os.path.join(folder, "deny"), 0o755)
    want = b"".join(b"qvr: %s: %s\n" % (n.encode(), m) for n, m in (
        ("denied.png", b"cannot read the file: Permission denied"), ("deny/x.png", b"cannot read the file: Permission denied"),
        ("deny/x.txt", b"cannot read the file: Permission denied"), ("gone.png", b"no such file")))
    if (status, err.replace(b"qvrc: ", b"qvr: ").replace(b"\r\n", b"\n")) != (1, want) or (linux_status, linux_err) != (1, want):
        failures.append("denied files: exit status %d under Wine, %d on Linux, %r, %r" % (status, linux_status, err, linux_err))
    if [(l["texts"]["scale"], l["texts"]["colors"]) for l in linux[:5]] != [tuple(unread.values()), ("未サポート", "未サポート"),
                                                                           *[tuple(unread.values())] * 3]:
        failures.append("denied files on Linux: %s" % [l["texts"] for l in linux])
    return failures + ["denied files: " + d for d in differences(windows, linux)]


def main():
    parser = argparse.ArgumentParser()
    for name in ("qvrc", "qvr", "testdata"):
        parser.add_argument("--" + name, required=True, type=os.path.abspath)
    args = parser.parse_args()
    for path, what in ((args.testdata, "test images"), (args.qvr, "Linux qvr (native preset)")):
        if not os.path.exists(path):
            print("skipped: no %s at %s" % (what, path))
            return SKIPPED

    tmp = tempfile.mkdtemp(prefix="qvr-cli-")
    env = None
    try:
        os.symlink(args.testdata, os.path.join(tmp, "testdata"))
        make_files(os.path.join(tmp, "made"))
        patterns, files = [], []
        for top in ("testdata", "made"):
            for folder, dirs, names in os.walk(os.path.join(tmp, top), followlinks=True):
                dirs.sort()
                patterns.append(os.path.relpath(folder, tmp) + "/*")
                files += [os.path.relpath(folder, tmp) + "/" + n for n in name_order(names)]
        wine, (qvrc,) = choose(args.qvrc)
        env = wine_prefix(tmp, wine)

        status, windows, _ = json_lines([wine, qvrc, "--json", *patterns], tmp, env)
        linux_status, linux, _ = json_lines([args.qvr, "--json", *files], tmp)
        failures = ["exit status %d under Wine, %d on Linux" % (status, linux_status)] if status != linux_status else []
        if [(l["width"], l["height"]) for l in linux if l["path"].endswith("big.jpg")] != [(0x456, 0x123)]:
            failures.append("Linux qvr does not find big.jpg's frame header past 4 GiB")
        if [w["path"] for w in windows] != files:
            failures.append("qvrc.exe expanded the patterns to other paths or another order")
        failures += differences(windows, linux)
        print("%d files compared" % len(windows))
        # Sizes past 32 bits show whole, on both systems alike (the lines are compared above).
        sizes = [l["texts"]["size"] for l in linux if l["path"] in ("made/big.bmp", "made/big.png")]
        if sizes != ["4.1e+003 MByte ( 4,294,967,296 Byte )", "5.12e+003 MByte ( 5,368,709,123 Byte )"]:
            failures.append("the sizes past 32 bits show as %s" % sizes)

        # One usage text: qvrc.exe's says what qvr's says, in order and under its own name, and adds only
        # lines on patterns, none of them an option (tests/cli/options_documented.sh checks qvr's).
        usage = [subprocess.run(command, env=env, capture_output=True, timeout=60) for command in
                 ([wine, qvrc, "--help"], [args.qvr, "--help"])]
        windows, linux = [[line for line in run.stdout.decode("cp932").replace("Usage: qvrc ", "Usage: qvr ").splitlines()
                           if line] for run in usage]
        added = [line for line in windows if line not in linux]
        if [run.returncode for run in usage] != [0, 0] or [line for line in windows if line in linux] != linux or any(
                line.startswith("  -") for line in added):
            failures.append("qvrc.exe --help does not say what qvr --help says; it adds %s" % added)

        # A name ending in dots or blanks reaches the file the system opens: the same line, the path aside.
        names = ["a.png", "a.png.", "a.png ", "a.png. ."]
        status, lines, _ = json_lines([wine, qvrc, "--json", *names], os.path.join(tmp, "made"), env)
        if status != 0 or [dict(line, path=0) for line in lines] != [dict(lines[0], path=0)] * len(names):
            failures.append("names ending in dots or blanks: %s" % [(l["path"], l["texts"]["scale"]) for l in lines])

        # Each name as an argument reaches its own file, never the neighbour a conversion would name;
        # a missing one is named on the console as code page 932 can show it.
        folder, names = os.path.join(tmp, "made", "names"), [*NAMES, "無い😀¥.png"]
        status, windows, message = json_lines([wine, qvrc, "--json", *names], folder, env)
        linux_status, linux, _ = json_lines([args.qvr, "--json", *names], folder)
        if (status, linux_status) != (1, 1) or [l["width"] for l in linux] != [w for w, _ in NAMES.values()] + [0]:
            failures.append("names as arguments: exit status %d under Wine, %d on Linux" % (status, linux_status))
        if message != "qvrc: 無い?￥.png: no such file\r\n".encode("cp932"):
            failures.append("names as arguments: the message for a missing one reads %r" % message)
        failures += differences(windows, linux)

        # Characters code page 932 holds only by likeness, one way (〜 as the bytes of ～, ‖ as those
        # of ∥): both tools show them as '?', never as the character of another file's name.
        likeness = ["a\u301cb.png", "\u00a2.png", "\u00a3.png", "\u00ac.png", "\u2014.png", "\u2016.png", "\u2212.png"]
        for name in likeness:
            shutil.copy(os.path.join(tmp, "made", "a.png"), os.path.join(folder, name))
        status, windows, _ = json_lines([wine, qvrc, "--json", *likeness], folder, env)
        linux_status, linux, _ = json_lines([args.qvr, "--json", *likeness], folder)
        if (status, linux_status) != (0, 0) or [l["name"] for l in linux] != ["a?b.png"] + ["?.png"] * 6:
            failures.append("names held by likeness: exit status %d under Wine, %d on Linux, %s" % (
                status, linux_status, [l["name"] for l in linux]))
        failures += differences(windows, linux)

        os.mkdir(os.path.join(tmp, "patterns"))
        with open(os.path.join(tmp, "made", "a.png"), "rb") as f:
            failures += check_patterns(wine, qvrc, os.path.join(tmp, "patterns"), env, f.read())

        failures += check_listed_names(wine, qvrc, args.qvr, tmp, env)
        started = time.monotonic()
        failures += check_tree(wine, qvrc, args.qvr, tmp, env)
        print("tree: %.1f s" % (time.monotonic() - started))
        failures += check_swapped_folder(wine, qvrc, tmp, env)
        failures += check_mounts(wine, qvrc, tmp, env)
        failures += check_stopping(wine, qvrc, tmp, env)
        failures += check_unreadable(wine, qvrc, args.qvr, tmp, env)
        started = time.monotonic()
        failures += check_timing(wine, qvrc, tmp, env)
        print("timing: %.1f s" % (time.monotonic() - started))

        # Devices show what the shell says of them and are never opened, named or matched; the
        # pattern beside them matches its two files.
        os.mkdir(os.path.join(tmp, "devices"))
        for name in ("p00.png", "p01.png", "com1.png"):
            shutil.copy(os.path.join(tmp, "made", "a.png"), os.path.join(tmp, "devices", name))
        names = ["COM1.jpg", "AUX.png", "con.bmp", "LPT1.gif", "p0?.png", "co*.png"]
        status, lines, _ = json_lines([wine, qvrc, "--json", *names], os.path.join(tmp, "devices"), env)
        seen = [(line["path"], line["flags"], line["fileSize"]) for line in lines]
        size = os.path.getsize(os.path.join(tmp, "made", "a.png"))
        unread = 0x30  # scale and colours unsupported
        want = [(n, unread, 0) for n in names[:4]] + [(n, 0, size) for n in ("p00.png", "p01.png")] + [
            ("com1.png", unread, 0)]
        if status != 0 or seen != want:
            failures.append("devices and patterns: exit status %d, %s" % (status, seen))
    finally:
        if env:
            subprocess.run([WINESERVER, "-k"], env=env, timeout=60)
        shutil.rmtree(tmp, ignore_errors=True)

    for failure in failures[:20]:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
