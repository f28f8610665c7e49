#!/usr/bin/env python3
"""Makes the picture of the dialog that the README shows (app/doc/dialog.png): the release qvr.exe,
built here from the sources as they are, on the example image, under Wine's 32-bit loader on a
private Xvfb display and in a fresh Wine prefix set up as the end-to-end tests set theirs up
(tests/e2e/run_e2e.py). Rerun it whenever the dialog changes, and look at the picture before
committing it:

    tools/screenshot.py [OUTPUT.png]

Without a window manager, Wine draws each window's frame and caption itself, as Windows does, with
its own fonts (Marlett for the caption's buttons), which a fresh prefix does not hold: they are
copied into it from Wine's font folder. The type name and icon are those Wine's shell gives a PNG
file in a fresh prefix; Windows shows its own."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from run_e2e import run, wine_prefix, win_path, write  # noqa: E402
from wine_build import WINESERVER, choose  # noqa: E402

SAMPLE = os.path.join(ROOT, "app", "example", "sample.png")
WINE_FONTS = "/usr/share/wine/fonts"
# The X11 driver draws the frames itself when it leaves windows unmanaged.
UNMANAGED = b'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n'


def build(preset):
    """The preset's qvr.exe, built from the sources as they are (quick when it is up to date)."""
    if not os.path.exists(os.path.join(ROOT, "build", preset, "build.ninja")):
        subprocess.run(["cmake", "--preset", preset], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", preset, "--target", "qvr"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(ROOT, "build", preset, "bin", "qvr.exe")


def dialog_window(env, caption, timeout=60):
    """The X window whose name begins with `caption`, once it looks the same twice in a row."""
    deadline, last = time.time() + timeout, None
    while time.time() < deadline:
        tree = subprocess.run(["xwininfo", "-root", "-tree"], env=env, capture_output=True, text=True).stdout
        ids = [line.split()[0] for line in tree.splitlines() if ('"%s' % caption) in line]
        if ids:
            shot = run(env, "import", "-window", ids[0], "rgb:-")
            if shot == last:
                return ids[0]
            last = shot
        time.sleep(0.5)
    sys.exit("screenshot: no window %r within %d s" % (caption, timeout))


def main():
    output = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "app", "doc", "dialog.png"))
    subprocess.run([os.path.join(ROOT, "tools", "install-deps.sh"), "screenshot"], check=True)
    release = build("win32")
    wine, (exe,) = choose(release)
    if exe != release:
        exe = build("win64")
    tmp = tempfile.mkdtemp(prefix="qvr-screenshot-")
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    env = None
    try:
        env = wine_prefix(tmp, wine, ":" + xvfb.stdout.readline().decode().strip())
        for font in glob.glob(os.path.join(WINE_FONTS, "*.ttf")):
            shutil.copy(font, os.path.join(tmp, "prefix", "drive_c", "windows", "Fonts"))
        run(env, wine, "regedit", "/s", win_path(write(os.path.join(tmp, "unmanaged.reg"), UNMANAGED)))
        program = subprocess.Popen([wine, exe, win_path(SAMPLE)], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = dialog_window(env, os.path.basename(SAMPLE) + " - QVR Version ")
        # No time stamps in the file: the same picture gives the same bytes.
        run(env, "import", "-window", window, "-strip", "-define", "png:exclude-chunks=date,time", output)
        program.kill()
    finally:
        if env:
            subprocess.run([WINESERVER, "-k"], env=env, timeout=30)
        xvfb.terminate()
        shutil.rmtree(tmp, ignore_errors=True)
    print("screenshot: %s" % os.path.relpath(output, ROOT))


if __name__ == "__main__":
    main()
