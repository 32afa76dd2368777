"""The Windows build of the updater under Wine, in the same world as on Linux:
a demo installation (updater.exe, its DLLs and plug-ins, the stand-in
messenger vemo7.exe), the host's stand-in update server and nginx on
loopback, an X server of its own (Xvfb).

Wine keeps a Windows profile in its prefix and gives every program its own
TEMP, TMP and APPDATA from there, whatever the host's variables say: the
work directory and the plug-in folder therefore lie inside the prefix, and
this world takes their places from it.

Used by scripts/demo --windows and by run_e2e.py --windows.
"""

import fcntl
import os
import shutil
import subprocess
from pathlib import Path

import time

from vemoe2e import DemoWorld, Desktop, E2EError, log

WINE = "/usr/lib/wine/wine64"
# The fonts Wine gets: DejaVu, which holds every Polish letter. Wine itself
# brings none that Debian installs, and the Windows dialog font it names
# (Tahoma) is then drawn by whatever font comes closest, without "ę".
FONT_DIR = Path("/usr/share/fonts/truetype/dejavu")
DIALOG_FONTS = ("MS Shell Dlg", "MS Shell Dlg 2", "Tahoma", "Segoe UI")


def windows_path(path):
    """The path as a Windows program names a host file (drive Z: is /)."""
    return "Z:" + str(path).replace("/", "\\")


class WineWorld(DemoWorld):
    """A DemoWorld whose installation holds the Windows deployment."""

    def __init__(self, build, windows_build, root):
        super().__init__(build, root)
        self.windows_build = Path(windows_build)
        self.prefix = self.root / "wine-prefix"
        user = os.environ.get("USER") or os.environ.get("LOGNAME") or "root"
        profile = self.prefix / "drive_c" / "users" / user
        # What Wine gives every program as TEMP and APPDATA.
        self.tmp = profile / "Temp"
        self.appdata = profile / "AppData" / "Roaming"
        self.plugins = self.appdata / "Vemo" / "plugins"

    @property
    def relocated(self):
        return self.work_dir / "updater.exe"

    def wine_env(self, base=None, prefix=None):
        env = dict(base if base is not None else os.environ)
        env["WINEPREFIX"] = str(prefix or self.prefix)
        env.setdefault("WINEDEBUG", "-all")
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        # The DLLs come from beside each program, as on a user's machine: a
        # relocated updater that left one behind would not start.
        env.pop("WINEPATH", None)
        for name in list(env):
            if name.startswith(("QT_", "WINEQT_")):
                del env[name]
        return env

    def wine(self, *args, prefix=None, **kwargs):
        return subprocess.run([WINE, *args], env=self.wine_env(prefix=prefix), **kwargs)

    def make_prefix(self, prefix=None):
        """Makes the Wine prefix once, with DejaVu as the dialog font."""
        prefix = Path(prefix or self.prefix)
        if (prefix / ".made").exists():
            return
        log("making the Wine prefix", prefix, "(about half a minute)")
        prefix.parent.mkdir(parents=True, exist_ok=True)
        self.wine("wineboot", "-i", prefix=prefix, stdout=subprocess.DEVNULL,
                  stderr=subprocess.DEVNULL, check=True)
        fonts = prefix / "drive_c" / "windows" / "Fonts"
        fonts.mkdir(parents=True, exist_ok=True)
        for font in FONT_DIR.glob("DejaVuSans*.ttf"):
            shutil.copy2(font, fonts / font.name)
        for name in DIALOG_FONTS:
            self.wine("reg", "add",
                      r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes",
                      "/v", name, "/t", "REG_SZ", "/d", "DejaVu Sans", "/f", prefix=prefix,
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        subprocess.run(["wineserver", "-w"], env=self.wine_env(prefix=prefix), check=False)
        profile = self.tmp.relative_to(self.prefix)
        if not (prefix / profile).is_dir():
            raise E2EError("the Wine prefix has no profile at %s" % (prefix / profile).parent)
        (prefix / ".made").touch()

    def prefix_from(self, template):
        """Gives this world a copy of a prefix made once (by the first
        scenario that needs it): making one takes half a minute."""
        template = Path(template)
        template.parent.mkdir(parents=True, exist_ok=True)
        with open(str(template) + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            self.make_prefix(template)
        shutil.copytree(template, self.prefix, symlinks=True)
        for folder in (self.tmp, self.appdata):
            folder.mkdir(parents=True, exist_ok=True)

    def stop_wine(self):
        """Ends every program of the prefix and its Wine server."""
        subprocess.run(["wineserver", "-k"], env=self.wine_env(), check=False,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.wine_env(), check=False,
                       stderr=subprocess.DEVNULL, timeout=30)

    @property
    def updater(self):
        return self.install / "updater.exe"

    def running_updaters(self):
        return self.relocated_pids()

    def relocated_files(self):
        """updater.exe with every DLL and plug-in folder of the deployment."""
        return sorted(p.name for p in (self.windows_build / "deploy").iterdir())

    def bundled_library(self):
        return self.install / "libzstd.dll"

    def argument(self, path):
        # The updater hands paths on in Qt's form, with forward slashes.
        return "Z:" + str(path)

    def program_argument(self, path):
        """A program's own path as Windows gives it: the work directory is
        on drive C: of the prefix."""
        rel = Path(path).relative_to(self.prefix / "drive_c")
        return "C:\\" + str(rel).replace("/", "\\")

    def hold_open(self, display, path):
        """Starts a program that keeps the file open without sharing it
        (tests/e2e/holdopen.cpp) and returns it once it holds the file, with
        the file whose existence lets it go."""
        ready = self.state / "held.ready"
        stop = self.state / "held.stop"
        output = open(self.state / "holdopen-output.log", "ab")
        try:
            holder = subprocess.Popen(
                [WINE, windows_path(self.windows_build / "tests/e2e/vemo-holdopen.exe"),
                 windows_path(path), windows_path(ready), windows_path(stop)],
                env=self.env(display), stdout=output, stderr=subprocess.STDOUT)
        finally:
            output.close()
        deadline = time.time() + 60
        while not ready.exists():
            if holder.poll() is not None or time.time() > deadline:
                raise E2EError("the program holding %s did not start (%r): %s" % (
                    path.name, holder.poll(),
                    (self.state / "holdopen-output.log").read_text(errors="replace")))
            time.sleep(0.1)
        return holder, stop

    def install_programs(self):
        """The folders, and the deployment with the Windows messenger."""
        for d in (self.install, self.plugins, self.catalogue, self.state, self.sources):
            d.mkdir(parents=True, exist_ok=True)
        shutil.copytree(self.windows_build / "demo", self.install, dirs_exist_ok=True)

    def refresh_updater(self):
        """The installation's updater follows the latest Windows build."""
        shutil.copytree(self.windows_build / "demo", self.install, dirs_exist_ok=True)

    def env(self, display):
        env = self.wine_env(display.env())
        # The journal and the lock stay with this demo.
        env["XDG_STATE_HOME"] = windows_path(self.state / "xdg-state")
        for name in ("http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"):
            env.pop(name, None)
        return env

    def start_updater(self, display, *args):
        output = open(self.state / "updater-output.log", "ab")
        try:
            return subprocess.Popen([WINE, windows_path(self.install / "updater.exe"), *args],
                                    env=self.env(display), cwd=str(self.install),
                                    stdout=output, stderr=subprocess.STDOUT)
        finally:
            output.close()

    def installed_query(self):
        """What the installed messenger reports, run under Wine."""
        result = self.wine(windows_path(self.install / "vemo7.exe"), "-updatequery",
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        # The Wine server and its desktop were started without a display:
        # the updater's windows would go nowhere if they were still there.
        subprocess.run(["wineserver", "-w"], env=self.wine_env(), check=False)
        return result.stdout.splitlines()

    def relocated_pids(self):
        """The relocated updater's processes: Wine shows a Windows program's
        own path as the first word of its command line."""
        suffix = "\\vupdates\\updater.exe"
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    first = f.read().split(b"\0")[0].decode(errors="replace")
            except OSError:
                continue
            if first.lower().endswith(suffix):
                pids.append(int(entry))
        return sorted(pids)


class WineDesktop(Desktop):
    """Without a window manager, Wine gives a window the keyboard when it is
    clicked, not when X moves the focus to it: each press first clicks a
    corner of the window where no control lies."""

    def windows(self):
        """Wine marks no window of Qt's as a dialog: a message box is a
        window of none of the sizes the updater's four windows have."""
        found = super().windows()
        for window in found:
            if window.kind == "unknown":
                window.dialog = True
        return found

    def press(self, window, *keys):
        self.display.run("xdotool", "mousemove", "--sync", str(window.x + 4), str(window.y + 4),
                         "click", "1", check=False)
        time.sleep(0.3)
        for key in keys:
            self.display.run("xdotool", "key", "--clearmodifiers", key)
            time.sleep(0.15)
