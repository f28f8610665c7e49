"""The Windows build the runs under Wine start, and its loader: the release (build/win32, PE32 i686)
under the 32-bit loader; on a machine that cannot run 32-bit programs (no IA-32 emulation in its
kernel), the 64-bit twin from build/win64 under wine64. Every run's first line names the build."""
import os
import shutil
import subprocess

WINE32 = "/usr/lib/wine/wine"
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"


def choose(*exes):
    """The loader and the programs to run, given those of the win32 build."""
    try:  # the loader is itself a 32-bit program
        subprocess.run([WINE32, "--version"], check=True, capture_output=True, timeout=60)
        print("build: win32 (PE32 i686) under %s" % WINE32, flush=True)
        return WINE32, exes
    except (OSError, subprocess.SubprocessError) as e:
        print("build: win64 (PE32+ x86-64) under %s, NOT the release: this machine cannot run 32-bit programs "
              "(%s --version: %s)" % (WINE64, WINE32, e), flush=True)
        return WINE64, [os.path.join(os.path.dirname(exe), "..", "..", "win64", "bin", os.path.basename(exe)) for exe in exes]
