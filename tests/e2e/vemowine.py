"""The Windows build of the updater under Wine, in the same world as on Linux:
a demo installation (updater.exe, its DLLs and plug-ins, the stand-in
messenger vemo7.exe), the host's stand-in update server and nginx on
loopback, an X server of its own (Xvfb).

Wine keeps a Windows profile in its prefix and gives every program its own
TEMP, TMP and APPDATA from there, whatever the host's variables say: the
work directory and the plug-in folder therefore lie inside the prefix, and
this world takes their places from it.

Used by scripts/demo --windows.
"""

import os
import shutil
import subprocess
from pathlib import Path

import time

from vemoe2e import DemoWorld, Desktop, E2EError, component, log

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

    def wine_env(self, base=None):
        env = dict(base if base is not None else os.environ)
        env["WINEPREFIX"] = str(self.prefix)
        env.setdefault("WINEDEBUG", "-all")
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        # The DLLs come from beside each program, as on a user's machine: a
        # relocated updater that left one behind would not start.
        env.pop("WINEPATH", None)
        for name in list(env):
            if name.startswith(("QT_", "WINEQT_")):
                del env[name]
        return env

    def wine(self, *args, **kwargs):
        return subprocess.run([WINE, *args], env=self.wine_env(), **kwargs)

    def make_prefix(self):
        """Makes the Wine prefix once, with DejaVu as the dialog font."""
        if (self.prefix / ".made").exists():
            return
        log("making the Wine prefix", self.prefix, "(about half a minute)")
        self.root.mkdir(parents=True, exist_ok=True)
        self.wine("wineboot", "-i", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                  check=True)
        fonts = self.prefix / "drive_c" / "windows" / "Fonts"
        fonts.mkdir(parents=True, exist_ok=True)
        for font in FONT_DIR.glob("DejaVuSans*.ttf"):
            shutil.copy2(font, fonts / font.name)
        for name in DIALOG_FONTS:
            self.wine("reg", "add",
                      r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes",
                      "/v", name, "/t", "REG_SZ", "/d", "DejaVu Sans", "/f",
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        subprocess.run(["wineserver", "-w"], env=self.wine_env(), check=False)
        if not self.tmp.is_dir() or not self.appdata.is_dir():
            raise E2EError("the Wine prefix has no profile at %s" % self.tmp.parent)
        (self.prefix / ".made").touch()

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.wine_env(), check=False,
                       stderr=subprocess.DEVNULL)

    def create_installation(self):
        for d in (self.install, self.plugins, self.catalogue, self.state, self.sources):
            d.mkdir(parents=True, exist_ok=True)
        shutil.copytree(self.windows_build / "demo", self.install, dirs_exist_ok=True)
        (self.install / "core.component").write_text(component("vemo", "core", "app", "7.0.0"))
        (self.install / "readme.txt").write_text("Vemo instant messenger 7.0.0\n")
        (self.install / "lang").mkdir(exist_ok=True)
        (self.install / "lang/vemo_pl.qm").write_bytes(b"catalogue 7.0.0\n" * 64)
        (self.install / "libvemocore.so").write_bytes(os.urandom(64 * 1024))
        (self.plugins / "emoticons.component").write_text(
            component("vemo", "emoticons", "plugin", "1.0"))
        (self.plugins / "emoticons.dll").write_bytes(b"emoticons 1.0\n" * 100)

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
