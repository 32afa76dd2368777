#!/usr/bin/env python3
"""End-to-end scenarios: the built updater, started from a demo installation,
against the stand-in update server and nginx, on its own X server.

    run_e2e.py --build BUILD_DIR [--windows WINDOWS_BUILD_DIR] --screenshots DIR SCENARIO

With --windows the installation holds that Windows build's deployment and
the updater runs under Wine (vemowine.py); the stand-in servers and the
package tool still come from the Linux build BUILD_DIR.

Each scenario checks the files on disk afterwards and saves screenshots of
the windows it passes in DIR/SCENARIO/. On failure the scenario's directory
(installation, plug-ins, work directory, logs) is kept and its path printed.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import traceback
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from vemoe2e import (DOWNLOAD_PORT, OTHER_KEY, Desktop, DemoWorld, Display, E2EError,
                     Interceptor, Servers, become_subreaper, command_line, log, make_temp_root,
                     reap, stop_on_termination, tree, tree_difference, wait_for_relocated,
                     without_mode)
from vemowine import WineDesktop, WineWorld


class Scenario:
    def __init__(self, build, screenshots, name, windows=None, slow_rate="64k"):
        self.name = name
        self.windows = windows
        self.root = make_temp_root("vemo-%s-%s-" % ("wine" if windows else "e2e", name))
        self.display = Display()
        if windows:
            self.world = WineWorld(build, windows, self.root)
            self.desktop = WineDesktop(self.display)
            # Wine takes seconds where Linux takes a fraction of one.
            self.patience = 3
        else:
            self.world = DemoWorld(build, self.root)
            self.desktop = Desktop(self.display)
            self.patience = 1
        self.servers = Servers(build, self.world.state, self.world.catalogue, slow_rate)
        self.shots = Path(screenshots) / name
        if self.shots.exists():
            shutil.rmtree(self.shots)
        self.shots.mkdir(parents=True)
        self.shot_number = 0
        self.started = []
        self.holders = []

    def prepare(self):
        if self.windows:
            self.world.prefix_from(Path(self.windows) / "e2e-wine-prefix")
        self.world.create_installation()

    # -- helpers ---------------------------------------------------------

    def shot(self, label, window=None):
        self.shot_number += 1
        path = self.shots / ("%02d-%s.png" % (self.shot_number, label))
        if window is not None:
            self.display.screenshot_window(window, path)
        else:
            self.display.screenshot(path)
        return path

    def folders(self):
        install = tree(self.world.install)
        install.pop("vemo7.started", None)
        return install, tree(self.world.plugins)

    def start(self, *args):
        """Starts the updater in the installation directory and returns the
        pid of the relocated instance."""
        known = self.world.running_updaters()
        relocating = self.world.start_updater(self.display, *args)
        code = relocating.wait(30 * self.patience)
        check(code == 0, "the relocating updater ended with %r" % code)
        pid = wait_for_relocated(self.world, known, 30 * self.patience)
        self.started.append(pid)
        return pid

    def expect_arguments(self, pid, expected):
        line = command_line(pid)
        check(line[1:] == expected, "relaunched with %r, expected %r" % (line[1:], expected))

    def end_with(self, pid, code, timeout=30):
        result = reap(pid, timeout * self.patience)
        self.started.remove(pid)
        check(result == code, "updater %d ended with %r, expected %r" % (pid, result, code))

    def offer_download(self, show_changelog=True):
        offer = self.desktop.wait_for("offer")
        self.shot("offer", offer)
        if not show_changelog:
            # "Download now" has the focus when the window opens: Enter.
            self.desktop.press(offer, "Return")
            return
        hidden_height = offer.height
        # "Show changelog" comes before "Download now" in the tab order.
        self.desktop.press(offer, "shift+Tab", "space")
        shown = self.wait_for_height(hidden_height)
        self.shot("offer-changelog", shown)
        # Tab back to "Download now".
        self.desktop.press(shown, "Tab", "space")

    def wait_for_height(self, than, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            offers = [w for w in self.desktop.windows() if w.kind == "offer"]
            if offers and offers[0].height > than:
                time.sleep(0.3)
                return offers[0]
            time.sleep(0.1)
        raise E2EError("the changelog did not open")

    def close_summary(self):
        summary = self.desktop.wait_for("summary", timeout=120)
        self.shot("summary", summary)
        return summary

    def press_close(self, summary):
        # "Close" has the focus: Enter.
        self.desktop.press(summary, "Return")

    def cleanup(self, failed):
        for pid in list(self.started):
            try:
                os.kill(pid, signal.SIGKILL)
                reap(pid, 10)
            except (OSError, E2EError):
                pass
        for holder in self.holders:
            holder.kill()
            holder.wait()
        if self.windows:
            self.world.stop_wine()
        self.servers.stop()
        self.display.stop()
        # Wine's own processes were adopted by this one: collect them.
        while True:
            try:
                if os.waitpid(-1, os.WNOHANG)[0] == 0:
                    break
            except ChildProcessError:
                break
        if failed:
            log("kept for diagnosis:", self.root)
        else:
            shutil.rmtree(self.root, ignore_errors=True)


def check(condition, message):
    if not condition:
        raise E2EError(message)


def same_folders(before, after, what):
    """Compares tree listings, or pairs of them (installation, plug-ins)."""
    if isinstance(before, tuple):
        for b, a, part in zip(before, after, ("installation", "plug-in folder")):
            same_folders(b, a, "%s (%s)" % (what, part))
        return
    check(before == after, "%s changed:\n%s" % (what, tree_difference(before, after)))


STAMPED = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z ")


def run_logs(s):
    """The last and the previous run's log in the scenario's state folder."""
    state = s.world.state / "xdg-state" / "vemo-updater"
    return [(state / name).read_text(encoding="utf-8") if (state / name).exists() else None
            for name in ("last-update.log", "previous-update.log")]


def check_run_log(s, outcome, *expected):
    """The run's log after the only run so far: one run in one file (the
    relocating and the relocated updater), every line stamped, every box of
    the run's standard error, the expected lines and at last the outcome.
    Returns the log."""
    last, _ = run_logs(s)
    check(last is not None, "no run's log was written")
    lines = last.splitlines()
    unstamped = [line for line in lines if not STAMPED.match(line)]
    check(not unstamped, "lines of the run's log without a time stamp: %r" % unstamped[:3])
    starts = [line for line in lines if " run started in process " in line]
    check(len(starts) == 1, "the run's log holds %d run starts:\n%s" % (len(starts), last))
    output = (s.world.state / "updater-output.log").read_text(errors="replace")
    boxes = [line for line in output.splitlines() if line.startswith("updater: box ")]
    for line in boxes + list(expected):
        check(line in last, "%r is not in the run's log:\n%s" % (line, last))
    outcomes = [line.split(" ", 1)[1] for line in lines if " outcome: " in line]
    check(outcomes[-1:] == ["outcome: " + outcome],
          "the run's log ends with the outcomes %r, expected %r" % (outcomes, outcome))
    return last


# -- scenarios -------------------------------------------------------------

def full_update(s, quiet=False, show_changelog=True):
    """Runs the standard update from the first start to the restart of the
    messenger and checks every step. Returns the folders afterwards."""
    install_before, plugins_before = s.folders()
    expected_install, expected_plugins = s.world.expected_after_standard_update(
        without_mode(install_before), without_mode(plugins_before))
    starts_before = len(s.world.messenger_starts())

    pid = s.start(*(["-q"] if quiet else []))
    root = s.world.argument(s.world.install)
    s.expect_arguments(pid, ["-u", "-q", "-root", root] if quiet else ["-u", "-root", root])

    if not quiet:
        s.offer_download(show_changelog)
    summary = s.close_summary()
    check(not [w for w in s.desktop.windows() if w.kind == "offer"],
          "an update offer is open beside the summary")

    install_after, plugins_after = s.folders()
    same_folders(expected_install, without_mode(install_after), "the installation")
    same_folders(expected_plugins, without_mode(plugins_after), "the plug-in folder")
    # Of the work directory only the running program's own file is left.
    left = sorted(p.name for p in s.world.work_dir.iterdir())
    check(left == s.world.relocated_files(), "work directory not cleared: %r" % left)

    s.press_close(summary)
    s.end_with(pid, 0)
    starts = s.world.messenger_starts()
    check(len(starts) == starts_before + 1, "the messenger was not started: %r" % starts)
    check(starts[-1].split("\t")[-1] == "", "the messenger got arguments: %r" % starts[-1])
    log = check_run_log(s, "updated", "phase relocation: ended", "installed: core 7.0.0",
                        "offered: core 7.1.0", "install: core", "phase summary: started")
    check(re.search(r"phase download: ended after [\d.]+ s: [1-9]\d* bytes downloaded", log),
          "the bytes downloaded are not in the run's log:\n" + log)
    return install_after, plugins_after


def scenario_interactive(s):
    s.world.standard_update()
    s.servers.start_web()
    s.servers.start_update_server()
    full_update(s)


def scenario_quiet(s):
    s.world.standard_update()
    s.servers.start_web()
    s.servers.start_update_server()
    seen = []
    original = s.desktop.wait_for

    def watching(kind, **kw):
        result = original(kind, **kw)
        seen.extend(w.kind for w in s.desktop.windows())
        return result
    s.desktop.wait_for = watching
    full_update(s, quiet=True)
    check("offer" not in seen, "quiet mode showed the update offer")


def bar_fill(path, width, height):
    """The share of the install window's width that its progress bar's
    filled part (the palette's highlight) takes on the row where it is
    widest, from a screenshot of the window."""
    raw = subprocess.run(["convert", str(path), "-depth", "8", "rgb:-"],
                         check=True, stdout=subprocess.PIPE).stdout
    best = 0
    for y in range(height):
        row = raw[3 * width * y:3 * width * (y + 1)]
        filled = sum(1 for x in range(0, len(row) - 2, 3)
                     if row[x + 2] > 150 and row[x + 2] > row[x] + 60)
        best = max(best, filled)
    return best / width


def scenario_large_update(s):
    """An update of a few thousand files: the install window is on screen
    and painted half-way through, the bar neither empty nor full."""
    s.world.large_update()
    s.servers.start_web()
    s.servers.start_update_server()
    before_plugins = tree(s.world.plugins)
    pid = s.start()
    s.offer_download(show_changelog=False)
    started = Path(str(s.world.runtime_gate) + ".started")
    deadline = time.time() + 120
    while not started.exists() and time.time() < deadline:
        time.sleep(0.1)
    check(started.exists(), "the runtime installer of the second package never started")
    install = s.desktop.wait_for("install", timeout=10)
    path = s.shot("install", install)
    fill = bar_fill(path, install.width, install.height)
    s.world.runtime_gate.touch()
    # The bar of two packages after the first: half-way, far from 0 and 100.
    check(0.1 <= fill <= 0.9, "the bar fills %.0f %% of the window" % (100 * fill))

    summary = s.close_summary()
    install_after = tree(s.world.install)
    check("lang/extra/1999.txt" in install_after, "the many files were not installed")
    plugins_after = tree(s.world.plugins)
    check("redist/vcredist.exe" not in plugins_after, "the runtime installer was left behind")
    check(plugins_after != before_plugins, "the plug-in was not updated")
    s.press_close(summary)
    s.end_with(pid, 0)


def scenario_second_run(s):
    s.world.standard_update()
    s.servers.start_web()
    s.servers.start_update_server()
    install, plugins = full_update(s, show_changelog=False)

    pid = s.start()
    box = s.desktop.wait_for("box")
    s.shot("no-updates", box)
    check(not [w for w in s.desktop.windows() if w.kind == "offer"], "an offer was shown")
    s.desktop.press(box, "Return")
    s.end_with(pid, 0)
    same_folders((install, plugins), s.folders(), "the folders")
    # The update's log is now the previous one.
    last, previous = run_logs(s)
    check(previous is not None and "outcome: updated" in previous,
          "the update's log was not kept as the previous one")
    output = (s.world.state / "updater-output.log").read_text(errors="replace")
    box_line = [line for line in output.splitlines() if line.startswith("updater: box ")][-1]
    check(last.rstrip("\n").endswith("outcome: no updates") and box_line in last
          and "outcome: updated" not in last, "the second run's log:\n" + last)


def broken_run(s, answer):
    s.world.broken_update()
    s.servers.start_web()
    s.servers.start_update_server()
    before = s.folders()
    pid = s.start()
    s.offer_download(show_changelog=False)

    # The installer's own box ("Wrong type!"), then the Abort/Retry question.
    failure = s.desktop.wait_for("box", timeout=60)
    s.shot("package-failure", failure)
    s.desktop.press(failure, "Return")
    s.desktop.wait_gone(failure)
    question = s.desktop.wait_for("box", timeout=30)
    install = [w for w in s.desktop.windows() if w.kind == "install"]
    if install:
        s.shot("install", install[0])
    s.shot("abort-or-retry", question)
    s.desktop.press(question, answer)
    return before, pid


def scenario_broken_abort(s):
    before, pid = broken_run(s, "Escape")
    summary = s.close_summary()
    same_folders(before, s.folders(), "the folders after the rollback")
    s.press_close(summary)
    s.end_with(pid, 0)
    check(len(s.world.messenger_starts()) == 1, "the messenger was not started")
    check(not s.world.running_updaters(), "an updater is still running")
    check_run_log(s, "failed and rolled back", "phase rollback: ended")


def scenario_broken_retry(s):
    before, pid = broken_run(s, "Return")
    # Retry: the summary opens, the program quits at once, and a new updater
    # starts from the work directory with the same arguments.
    s.end_with(pid, 0)
    deadline = time.time() + 30
    again = []
    while time.time() < deadline and not again:
        again = s.world.running_updaters()
        time.sleep(0.05)
    check(again, "no new updater started after Retry")
    s.started.append(again[0])
    root = s.world.argument(s.world.install)
    program = s.world.program_argument(s.world.relocated)
    s.expect_arguments(again[0], [program, "-u", "-root", root])
    same_folders(before, s.folders(), "the folders after the rollback")

    offer = s.desktop.wait_for("offer")
    s.shot("offer-after-retry", offer)
    # Escape is "Download later".
    s.desktop.press(offer, "Escape")
    s.end_with(again[0], 0)
    same_folders(before, s.folders(), "the folders")
    check(not s.world.messenger_starts(), "the messenger was started")
    # The restart goes on in the same log.
    log = check_run_log(s, "not downloaded (the offer was closed)",
                        "outcome: failed and rolled back", "retry: the updater starts again")
    check(log.count(" run goes on in process ") == 2, "the restart began a log of its own")


def scenario_cancel(s):
    s.world.standard_update(slow=True)
    s.servers.start_web()
    s.servers.start_update_server()
    before = s.folders()
    pid = s.start()
    s.offer_download(show_changelog=False)
    download = s.desktop.wait_for("download", timeout=30)
    time.sleep(2)
    s.shot("download", download)
    # Escape is Cancel.
    s.desktop.press(download, "Escape")
    s.end_with(pid, 0)
    same_folders(before, s.folders(), "the folders")
    check(not s.world.messenger_starts(), "the messenger was started")
    partial = s.world.work_dir / "archives/slow/core-7.1.0.zip"
    full = s.world.catalogue / "slow/core-7.1.0.zip"
    check(partial.exists() and partial.stat().st_size < full.stat().st_size,
          "no partial archive left by the cancelled download")
    check_run_log(s, "cancelled", "phase offer: ended")


def scenario_proxy(s):
    # The servers go by a name only the proxy knows: the updater never sends
    # a loopback address through a proxy. (The update server of a test build
    # is such an address, so the check goes straight to it.)
    s.world.standard_update(host="packages.vemo.test")
    s.servers.start_web()
    s.servers.start_update_server()
    s.world.proxy = s.servers.start_proxy({"packages.vemo.test": "127.0.0.1"})
    full_update(s, show_changelog=False)
    through = [line for line in s.servers.proxy_requests() if line.startswith("GET ")]
    expected = ["GET http://packages.vemo.test:%d/releases/%s" % (DOWNLOAD_PORT, name)
                for name in ("core-7.1.0.zip", "emoticons-1.1.zip")]
    check(through == expected, "downloads through the proxy: %r" % through)


def scenario_resume(s):
    # nginx cuts every GET below /cut-once/ that asks for the whole file.
    s.world.standard_update(folder="cut-once")
    s.servers.start_web()
    s.servers.start_update_server()
    full_update(s, show_changelog=False)
    gets = [line.rsplit(" ", 1)[0] for line in s.servers.web_requests()
            if line.startswith("GET /cut-once/core")]
    check(gets == ["GET /cut-once/core-7.1.0.zip 200", "GET /cut-once/core-7.1.0.zip 206"],
          "the download of core was not cut once and resumed: %r" % gets)


def delta_downloads(s):
    """The GETs of the run's archives: "NAME STATUS"."""
    return [" ".join(line.split()[1:3]).replace("/releases/", "")
            for line in s.servers.web_requests() if line.startswith("GET ")]


def scenario_delta(s):
    """Both updates go by delta package: only the deltas are downloaded, and
    the folders end as after the full packages."""
    s.world.standard_update(delta=True)
    s.servers.start_web()
    s.servers.start_update_server()
    full_update(s, show_changelog=False)
    gets = delta_downloads(s)
    check(gets == ["core-7.0.0-7.1.0.zip 200", "emoticons-1.0-1.1.zip 200"],
          "downloads: %r" % gets)


def scenario_delta_fallback(s):
    """The installed library was changed locally, so the delta of core does
    not fit: its full package is downloaded in the same run, with a line on
    standard error and no box, and the installation ends fully updated."""
    s.world.standard_update(delta=True)
    library = s.world.install / "libvemocore.so"
    data = bytearray(library.read_bytes())
    data[5] ^= 0x01
    library.write_bytes(bytes(data))
    s.servers.start_web()
    s.servers.start_update_server()
    full_update(s, show_changelog=False)
    gets = delta_downloads(s)
    check(gets == ["core-7.0.0-7.1.0.zip 200", "emoticons-1.0-1.1.zip 200", "core-7.1.0.zip 200"],
          "downloads: %r" % gets)
    output = (s.world.state / "updater-output.log").read_text(errors="replace").splitlines()
    fallback = [line for line in output if "core" in line and "libvemocore.so" in line]
    check(len(fallback) == 1 and fallback[0].startswith("updater: "),
          "no single line about the fallback of core: %r" % output)
    log(fallback[0])
    check(not [line for line in output if line.startswith("updater: box")],
          "a box was shown: %r" % output)


def scenario_server_down(s):
    s.world.standard_update()
    s.servers.start_web()
    before = s.folders()
    pid = s.start()
    box = s.desktop.wait_for("box", timeout=60)
    check(box.title == "Sprawdzanie aktualizacji", "box titled %r" % box.title)
    s.shot("connection-error", box)
    s.desktop.press(box, "Return")
    s.end_with(pid, 0)
    same_folders(before, s.folders(), "the folders")


def refused(s, label):
    """Runs the updater against an answer it must not trust: the check's
    box, exit code 0 as after a connection error, nothing downloaded and
    nothing changed."""
    before = s.folders()
    pid = s.start()
    box = s.desktop.wait_for("box", timeout=60)
    check(box.title == "Sprawdzanie aktualizacji", "%s: box titled %r" % (label, box.title))
    check(not [w for w in s.desktop.windows() if w.kind != "box"],
          "%s: a window beside the box: %r" % (label, s.desktop.windows()))
    s.shot(label, box)
    s.desktop.press(box, "Return")
    s.end_with(pid, 0)
    same_folders(before, s.folders(), "the folders (%s)" % label)
    left = sorted(p.name for p in s.world.work_dir.iterdir())
    check(left == s.world.relocated_files(), "%s: the work directory holds %r" % (label, left))


def scenario_untrusted_answers(s):
    s.world.standard_update()
    s.servers.start_web()
    upstream = 18444
    cases = [
        ("another-key", dict(key=OTHER_KEY), None),
        ("expired", dict(lifetime=-5), None),
        ("unsigned", dict(key=None), None),
        # Someone on the way changes the answer, or asks the real server a
        # question of its own and passes on the (signed) answer to that.
        ("tampered", dict(port=upstream),
         dict(alter_answer=lambda a: a.replace(b"<version>7.1.0", b"<version>7.1.1", 1))),
        ("other-query", dict(port=upstream),
         dict(alter_query=lambda q: q.replace(b'version="7.0.0"', b'version="6.9"', 1))),
    ]
    for label, server, interceptor in cases:
        s.servers.start_update_server(**server)
        man_in_the_middle = Interceptor(upstream, **interceptor) if interceptor else None
        try:
            refused(s, label)
        finally:
            if man_in_the_middle:
                man_in_the_middle.stop()
            s.servers.stop_update_server()
    log = (s.world.state / "update-server.log").read_text()
    check(log.count("answered 2 request(s)") == len(cases),
          "the update server did not answer every case:\n" + log)


def scenario_tampered_package(s):
    """An archive on the download server changed by one byte: the download
    stops with an error naming the package, the archive is deleted, nothing
    is installed."""
    s.world.standard_update()
    archive = s.world.catalogue / "releases/emoticons-1.1.zip"
    data = bytearray(archive.read_bytes())
    data[len(data) // 2] ^= 0x01
    archive.write_bytes(bytes(data))
    s.servers.start_web()
    s.servers.start_update_server()
    before = s.folders()
    pid = s.start()
    s.offer_download(show_changelog=False)
    box = s.desktop.wait_for("box", timeout=60)
    s.shot("package-not-verified", box)
    s.desktop.press(box, "Return")
    s.end_with(pid, 0)
    same_folders(before, s.folders(), "the folders")
    check(not (s.world.work_dir / "archives/releases/emoticons-1.1.zip").exists(),
          "the archive that failed its check was kept")
    check(not s.world.messenger_starts(), "the messenger was started")


def scenario_unkeyed(s):
    """An updater built without keys takes unsigned answers as always, and
    signed ones too: it ignores the signature and the two attributes."""
    shutil.copy2(s.world.build / "tests/e2e/updater-unkeyed", s.world.updater)
    s.world.standard_update()
    s.servers.start_web()
    s.servers.start_update_server(key=None)
    install, plugins = full_update(s, show_changelog=False)
    s.servers.stop_update_server()

    s.servers.start_update_server()
    pid = s.start()
    box = s.desktop.wait_for("box")
    s.shot("no-updates", box)
    s.desktop.press(box, "Return")
    s.end_with(pid, 0)
    same_folders((install, plugins), s.folders(), "the folders")


def scenario_new_updater(s):
    """An update whose package carries a new updater and a library that
    lies beside it: the relocated copy in the work directory installs them
    over the installation's copies, the messenger restarts, and the new
    updater then runs and finds nothing more to do."""
    files = {s.world.updater.name: s.world.updater.read_bytes() + b"\0updater 7.1.0\n",
             "readme.txt": b"Vemo instant messenger 7.1.0\n"}
    library = s.world.bundled_library()
    if library is not None:
        files[library.name] = library.read_bytes() + b"\0library 7.1.0\n"
    link = s.world.write_package("core", "app", "7.1.0", files, "/releases/core-7.1.0.zip")
    s.world.write_catalogue([dict(name="core", type="app", version="7.1.0",
                                  description="Komunikator Vemo", link=link,
                                  changelog="Nowy program aktualizacji")])
    s.servers.start_web()
    s.servers.start_update_server()
    # The folders are compared with the package's files in full_update.
    install, plugins = full_update(s, show_changelog=False)

    pid = s.start()
    box = s.desktop.wait_for("box", timeout=30 * s.patience)
    s.shot("no-updates", box)
    s.desktop.press(box, "Return")
    s.end_with(pid, 0)
    same_folders((install, plugins), s.folders(), "the folders")


def scenario_killed_install(s):
    """The updater killed while a package of many files goes in: its
    journal is left, and the next start rolls that run back before anything
    else, says so, and offers the update again over the old folders."""
    many = {"lang/extra/%04d.txt" % i: ("plik %d\n" % i).encode() * (1 + i % 40)
            for i in range(2000)}
    many["readme.txt"] = b"Vemo instant messenger 7.1.0\n"
    link = s.world.write_package("core", "app", "7.1.0", many, "/releases/core-7.1.0.zip")
    s.world.write_catalogue([dict(name="core", type="app", version="7.1.0",
                                  description="Komunikator Vemo", link=link,
                                  changelog="Nowe tłumaczenia")])
    s.servers.start_web()
    s.servers.start_update_server()
    before = s.folders()
    pid = s.start()
    s.offer_download(show_changelog=False)
    # Killed once the package's first files are in.
    extra = s.world.install / "lang" / "extra"
    deadline = time.time() + 60 * s.patience
    while not (extra.is_dir() and any(extra.iterdir())):
        check(time.time() < deadline, "the package's files never arrived")
        time.sleep(0.01)
    os.kill(pid, signal.SIGKILL)
    s.end_with(pid, -signal.SIGKILL)
    check(s.world.journal.exists(), "the install ended before the updater was killed")
    installed = len(list(extra.iterdir()))
    check(installed < len(many) - 1, "the install ended before the updater was killed")
    log("killed after %d of the package's %d files" % (installed, len(many)))

    # The recovery comes before the relocation: its box is the relocating
    # updater's.
    known = s.world.running_updaters()
    relocating = s.world.start_updater(s.display)
    box = s.desktop.wait_for("box", timeout=30 * s.patience)
    s.shot("recovered", box)
    same_folders(before, s.folders(), "the folders after the recovery")
    check(not s.world.journal.exists(), "the journal was left after the recovery")
    s.desktop.press(box, "Return")
    check(relocating.wait(30 * s.patience) == 0, "the relocating updater ended with %r"
          % relocating.returncode)
    pid = wait_for_relocated(s.world, known, 30 * s.patience)
    s.started.append(pid)
    offer = s.desktop.wait_for("offer", timeout=30 * s.patience)
    s.shot("offer-after-recovery", offer)
    s.desktop.press(offer, "Escape")
    s.end_with(pid, 0)
    same_folders(before, s.folders(), "the folders")
    last, _ = run_logs(s)
    check(last is not None and "recovered at start-up" in last,
          "the recovery is not in the run's log:\n%s" % last)


def scenario_held_open(s):
    """Another program keeps a file of the installation open without
    sharing it: the package that replaces it fails, the run is rolled back,
    nothing is lost, and that program still holds its file."""
    check(s.windows, "share modes are a Windows matter: run with --windows")
    s.world.standard_update()
    s.servers.start_web()
    s.servers.start_update_server()
    before = s.folders()
    holder, stop = s.world.hold_open(s.display, s.world.install / "libvemocore.so")
    s.holders.append(holder)
    pid = s.start()
    s.offer_download(show_changelog=False)
    # The failure, then the Abort/Retry question: Escape answers each
    # (Abort), until the summary opens.
    deadline = time.time() + 60 * s.patience
    boxes = 0
    while not [w for w in s.desktop.windows() if w.kind == "summary"]:
        check(time.time() < deadline, "no summary after the failure")
        box = [w for w in s.desktop.windows() if w.kind == "box"]
        if box:
            boxes += 1
            s.shot("failure-%d" % boxes, box[0])
            s.desktop.press(box[0], "Escape")
            s.desktop.wait_gone(box[0])
        time.sleep(0.1)
    check(boxes > 0, "the failure was never shown")
    summary = s.close_summary()
    same_folders(before, s.folders(), "the folders after the rollback")
    s.press_close(summary)
    s.end_with(pid, 0)
    check(len(s.world.messenger_starts()) == 1, "the messenger was not started")
    check(holder.poll() is None, "the program holding the file has ended")
    stop.touch()
    check(holder.wait(30) == 0, "the program holding the file ended with %r" % holder.returncode)
    s.holders.remove(holder)
    check_run_log(s, "failed and rolled back", "phase rollback: ended")


SCENARIOS = {
    "new-updater": scenario_new_updater,
    "killed-install": scenario_killed_install,
    "held-open": scenario_held_open,
    "untrusted-answers": scenario_untrusted_answers,
    "tampered-package": scenario_tampered_package,
    "unkeyed": scenario_unkeyed,
    "interactive": scenario_interactive,
    "large-update": scenario_large_update,
    "quiet": scenario_quiet,
    "second-run": scenario_second_run,
    "broken-abort": scenario_broken_abort,
    "broken-retry": scenario_broken_retry,
    "cancel": scenario_cancel,
    "server-down": scenario_server_down,
    "proxy": scenario_proxy,
    "resume": scenario_resume,
    "delta": scenario_delta,
    "delta-fallback": scenario_delta_fallback,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--windows", metavar="WINDOWS_BUILD_DIR",
                        help="run the Windows build's deployment under Wine")
    parser.add_argument("--screenshots", required=True)
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()

    stop_on_termination()
    become_subreaper()
    s = Scenario(args.build, args.screenshots, args.scenario, args.windows)
    failed = True
    try:
        s.prepare()
        s.display.start()
        log("scenario", args.scenario, "on display", s.display.name, "in", s.root)
        SCENARIOS[args.scenario](s)
        failed = False
        log("passed:", args.scenario)
    except Exception as error:  # every failure is reported the same way
        s.shot("failure")
        log("FAILED:", args.scenario, "-", error)
        if not isinstance(error, E2EError):
            traceback.print_exc()
        log("windows:", s.desktop.windows() if s.display.name else [])
        output = s.world.state / "updater-output.log"
        if output.exists():
            log("updater output:\n" + output.read_text(errors="replace")[-3000:])
    finally:
        s.cleanup(failed)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
