#!/usr/bin/env python3
"""Runs the updater on a demo installation against local stand-ins.

    demo.py --build BUILD_DIR --dir DEMO_DIR [--reset] [--xvfb]
            [--windows WINDOWS_BUILD_DIR]

The first run (or one with --reset) makes DEMO_DIR: an installed messenger
7.0.0 with the "core" (app) and "emoticons" (plug-in) components, and a
catalogue offering 7.1.0 and 1.1, each as a full package and as a delta
package made against the installed version. Then it starts the stand-in update server
and nginx on loopback, runs the updater as the messenger would (from the
installation directory), waits until it has ended, and stops everything it
started, and says how many bytes the deltas saved. The installation stays
updated, so the next run reports that there are no updates.

With a usable display the updater appears there and waits for you. Without
one (or with --xvfb) it runs on a private X server and the demo clicks
through by itself, saving screenshots in DEMO_DIR/screenshots/.

With --windows the installation holds the Windows build's deployment
(WINDOWS_BUILD_DIR/demo: updater.exe, its DLLs and plug-ins, vemo7.exe), and
the updater and the messenger run under Wine, in a Wine prefix of their own
inside DEMO_DIR; the update server and nginx are the host's, from BUILD_DIR.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

from vemoe2e import (Desktop, DemoWorld, Display, E2EError, Servers, become_subreaper,
                     log, processes_running, reap, stop_on_termination)
from vemowine import WineDesktop, WineWorld


def display_usable():
    if not os.environ.get("DISPLAY"):
        return False
    return subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def relocated_pids(world):
    if isinstance(world, WineWorld):
        return world.relocated_pids()
    return processes_running(world.relocated)


def wait_for_relocated(world, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline:
        pids = relocated_pids(world)
        if pids:
            return pids[0]
        time.sleep(0.1)
    raise E2EError("no relocated updater appeared in %s" % world.work_dir)


def installed(world):
    """The messenger's query line: the components installed."""
    if isinstance(world, WineWorld):
        lines = world.installed_query()
    else:
        lines = subprocess.run(
            [str(world.install / "vemo7.exe"), "-updatequery"],
            env=dict(os.environ, APPDATA=str(world.appdata)), stdout=subprocess.PIPE,
            text=True).stdout.splitlines()
    return lines[1] if len(lines) > 1 else " ".join(lines)


def autopilot(world, desktop, display, pid, shots):
    """Clicks through whatever the updater shows, the way a user would."""
    shots.mkdir(parents=True, exist_ok=True)
    number = 0

    def shot(label, window):
        nonlocal number
        number += 1
        path = shots / ("%02d-%s.png" % (number, label))
        display.screenshot_window(window, path)
        log("screenshot", path)

    seen_download = seen_install = False
    deadline = time.time() + 300
    while time.time() < deadline:
        if not relocated_pids(world):
            return
        windows = desktop.windows()
        kinds = {w.kind: w for w in windows}
        if "box" in kinds:
            time.sleep(0.5)
            shot("message", kinds["box"])
            desktop.press(kinds["box"], "Return")
            desktop.wait_gone(kinds["box"])
        elif "offer" in kinds:
            offer = kinds["offer"]
            time.sleep(0.5)
            shot("update-offer", offer)
            desktop.press(offer, "shift+Tab", "space")  # Show changelog
            time.sleep(1)
            offer = desktop.wait_for("offer")
            shot("changelog", offer)
            desktop.press(offer, "Tab", "space")        # Download now
            desktop.wait_gone(offer)
        elif "download" in kinds and not seen_download:
            time.sleep(0.8)
            shot("download", kinds["download"])
            seen_download = True
        elif "install" in kinds and not seen_install:
            shot("install", kinds["install"])
            seen_install = True
        elif "summary" in kinds:
            time.sleep(0.5)
            shot("summary", kinds["summary"])
            desktop.press(kinds["summary"], "Return")  # Close: starts the messenger
            desktop.wait_gone(kinds["summary"])
        time.sleep(0.1)
    raise E2EError("the demo did not finish within 5 minutes")


def report_savings(world, servers, earlier):
    """The bytes this run downloaded (nginx's lines after the earlier ones)
    against those of the full packages."""
    gets = [line.split() for line in servers.web_requests()[earlier:] if line.startswith("GET ")]
    if not gets:
        return
    downloaded = sum(int(fields[3]) for fields in gets)
    full = 0
    for name in ("core-7.1.0.zip", "emoticons-1.1.zip"):
        archive = world.catalogue / "slow" / name
        if archive.exists():
            full += archive.stat().st_size
    log("downloaded %d bytes (%s) where the full packages take %d bytes: %d bytes saved (%.0f %%)"
        % (downloaded, ", ".join(Path(fields[1]).name for fields in gets), full,
           full - downloaded, 100.0 * (full - downloaded) / full if full else 0))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--reset", action="store_true",
                        help="start over with the old version")
    parser.add_argument("--xvfb", action="store_true",
                        help="run on a private X server even when a display is there")
    parser.add_argument("--windows", metavar="WINDOWS_BUILD_DIR",
                        help="run the Windows build under Wine")
    args = parser.parse_args()

    stop_on_termination()
    become_subreaper()
    root = Path(args.dir).resolve()
    if args.reset and root.exists():
        shutil.rmtree(root)
    if args.windows:
        world = WineWorld(args.build, args.windows, root)
        world.make_prefix()
    else:
        world = DemoWorld(args.build, root)
    if not (world.install / "vemo7.exe").exists():
        log("making the demo installation in", root)
        world.create_installation()
        for line in world.standard_update(slow=True, delta=True):
            log(line)
    else:
        # The updater copy in the installation follows the latest build.
        if args.windows:
            world.refresh_updater()
        else:
            shutil.copy2(Path(args.build) / "src/updater", world.install / "updater")
        # A demo made before packages carried their size and checksum, or
        # before delta packages, gets the catalogue of today.
        catalogue = world.catalogue / "catalogue.xml"
        if catalogue.exists() and "<delta" not in catalogue.read_text():
            world.standard_update(slow=True, delta=True)

    log("installed:", installed(world))

    servers = Servers(args.build, world.state, world.catalogue, slow_rate="1m")
    interactive = display_usable() and not args.xvfb
    display = Display(use_existing=interactive)
    pid = None
    try:
        display.start()
        servers.start_web()
        servers.start_update_server()
        log("update server on 127.0.0.1:18443 signing its answers with the test-only key,"
            " packages from nginx on 127.0.0.1:18080")
        earlier = len(servers.web_requests())
        relocating = world.start_updater(display)
        relocating.wait(30)
        pid = wait_for_relocated(world)
        if interactive:
            log("the updater is on your display; the demo ends when it does")
            reap(pid, 24 * 3600)
        else:
            log("no display: running on Xvfb", display.name, "and clicking through")
            desktop = WineDesktop(display) if args.windows else Desktop(display)
            autopilot(world, desktop, display, pid, root / "screenshots")
            reap(pid, 60)
        pid = None
        report_savings(world, servers, earlier)
    finally:
        if pid:
            try:
                os.kill(pid, 9)
            except OSError:
                pass
        servers.stop()
        display.stop()

    log("installed now:", installed(world))
    if args.windows:
        world.stop_wine()
    starts = world.messenger_starts()
    if starts:
        log("the messenger was started %d time(s); last: %s" % (len(starts), starts[-1]))
    log("demo installation:", world.install, "- run again to see that no updates remain,"
        " or use --reset to start over")
    return 0


if __name__ == "__main__":
    sys.exit(main())
