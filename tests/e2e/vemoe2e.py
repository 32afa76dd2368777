"""Runs the real updater the way a user meets it: a demo installation of the
messenger, the stand-in update server and nginx on loopback, the program on an
X server of its own (Xvfb), its buttons pressed with xdotool.

Used by the end-to-end tests (run_e2e.py) and by scripts/demo.
"""

import ctypes
import hashlib
import os
import random
import re
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
from pathlib import Path
from urllib.parse import urlparse

UPDATE_PORT = 18443
DOWNLOAD_PORT = 18080
# The HTTP proxy of the proxy scenario, and the user name and password it
# asks for.
PROXY_ADDRESS = "127.0.0.1"
PROXY_PORT = 18128
PROXY_CREDENTIALS = "vemo:secret"
# The build signs with the test-only key pair (scripts/build); the other one
# stands for a key the updater does not know.
KEYS = Path(__file__).resolve().parents[1] / "keys"
RELEASE_KEY = KEYS / "test-only-release.key"
OTHER_KEY = KEYS / "test-only-other.key"
# Titles of the updater's windows and boxes: the Polish catalogue is always
# loaded, so "Update" reads "Aktualizacja" and "Check updates" reads
# "Sprawdzanie aktualizacji".
TITLES = ("Aktualizacja", "Update", "Sprawdzanie aktualizacji", "Check updates")

# Window sizes fixed by the forms; the update offer adjusts its height to its
# contents, the other three keep the form's size.
DOWNLOAD_SIZE = (450, 212)
INSTALL_SIZE = (450, 158)
# The summary has the form's size with its log shown (after a failure), and
# is lower without it (after a success).
SUMMARY_SIZE = (400, 222)
OFFER_WIDTH = 450


class E2EError(Exception):
    pass


def log(*parts):
    print("[%s]" % time.strftime("%H:%M:%S"), *parts, flush=True)


def stop_on_termination():
    """Turns SIGTERM (a test timeout) into an exception, so that the servers
    and the display are stopped on the way out."""
    def handler(signum, frame):
        raise E2EError("terminated by signal %d" % signum)
    signal.signal(signal.SIGTERM, handler)
    signal.signal(signal.SIGINT, handler)


def become_subreaper():
    """Detached processes that the updater starts become our children, so
    that their exit codes can be collected."""
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_CHILD_SUBREAPER = 36
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def tree(root):
    """Every entry below root: relative path -> ("dir",) or ("file", sha256, mode)."""
    result = {}
    root = Path(root)
    if not root.exists():
        return result
    for path in sorted(root.rglob("*")):
        rel = str(path.relative_to(root))
        if path.is_symlink():
            result[rel] = ("link", os.readlink(path))
        elif path.is_dir():
            result[rel] = ("dir",)
        else:
            digest = hashlib.sha256(path.read_bytes()).hexdigest()
            result[rel] = ("file", digest, oct(path.stat().st_mode & 0o7777))
    return result


def tree_difference(before, after):
    lines = []
    for key in sorted(set(before) | set(after)):
        if before.get(key) != after.get(key):
            lines.append("  %s: %s -> %s" % (key, before.get(key), after.get(key)))
    return "\n".join(lines)


class Servers:
    """The stand-in update server and nginx, both on loopback, and an HTTP
    proxy when asked for."""

    def __init__(self, build, state, catalogue, slow_rate="64k", cut_after="16k"):
        self.build = Path(build)
        self.state = Path(state)
        self.catalogue = Path(catalogue)
        self.slow_rate = slow_rate
        self.cut_after = cut_after
        self.update_server = None
        self.webserver_state = self.state / "nginx"
        self.web_started = False
        self.proxy_state = self.state / "proxy"
        self.proxy_started = False
        self.source = Path(__file__).resolve().parents[2]

    def start_web(self):
        subprocess.run([str(self.source / "tools/webserver/vemo-webserver"), "start",
                        str(self.webserver_state), str(self.catalogue), "127.0.0.1",
                        str(DOWNLOAD_PORT), self.slow_rate, self.cut_after], check=True)
        self.web_started = True

    def web_requests(self):
        """nginx's "METHOD URI STATUS BYTES" lines so far."""
        log_file = self.webserver_state / "access.log"
        return log_file.read_text().splitlines() if log_file.exists() else []

    def start_proxy(self, hosts):
        """tinyproxy, asking for PROXY_CREDENTIALS and resolving the host
        names of hosts (name -> address) by itself. Returns http_proxy."""
        self.proxy_state.mkdir(parents=True, exist_ok=True)
        hosts_file = self.proxy_state / "hosts"
        hosts_file.write_text("".join("%s %s\n" % (a, n) for n, a in hosts.items()))
        subprocess.run([str(self.source / "tools/proxy/vemo-proxy"), "start",
                        str(self.proxy_state), PROXY_ADDRESS, str(PROXY_PORT), str(hosts_file),
                        "--auth", PROXY_CREDENTIALS], check=True)
        self.proxy_started = True
        return "http://%s@%s:%d" % (PROXY_CREDENTIALS, PROXY_ADDRESS, PROXY_PORT)

    def proxy_requests(self):
        """The request lines that reached the proxy ("GET http://...")."""
        log_file = self.proxy_state / "tinyproxy.log"
        if not log_file.exists():
            return []
        return re.findall(r"Request \(file descriptor \d+\): (\S+ \S+)", log_file.read_text())

    def start_update_server(self, key=RELEASE_KEY, lifetime=None, port=UPDATE_PORT):
        """Signs with the key (None: unsigned answers)."""
        log_file = self.state / "update-server.log"
        command = [str(self.build / "tools/vemo-update-server"), "--catalogue",
                   str(self.catalogue), "--address", "127.0.0.1", "--port", str(port),
                   "--log", str(log_file)]
        if key is not None:
            command += ["--key", str(key)]
        if lifetime is not None:
            command += ["--lifetime", str(lifetime)]
        self.update_server = subprocess.Popen(command, stdout=subprocess.PIPE,
                                              stderr=subprocess.STDOUT, text=True)
        line = self.update_server.stdout.readline()
        if "listening on" not in line:
            raise E2EError("update server did not start: %r" % line)

    def stop_update_server(self):
        if self.update_server:
            self.update_server.terminate()
            try:
                self.update_server.wait(10)
            except subprocess.TimeoutExpired:
                self.update_server.kill()
                self.update_server.wait()
            self.update_server = None

    def stop(self):
        self.stop_update_server()
        if self.web_started:
            subprocess.run([str(self.source / "tools/webserver/vemo-webserver"), "stop",
                            str(self.webserver_state)], check=False)
            self.web_started = False
        if self.proxy_started:
            subprocess.run([str(self.source / "tools/proxy/vemo-proxy"), "stop",
                            str(self.proxy_state)], check=False)
            self.proxy_started = False


class Interceptor:
    """Someone on the path to the update server: listens on the update port,
    passes each query on to the real server (at upstream_port) after
    alter_query, and its answer back after alter_answer."""

    def __init__(self, upstream_port, alter_query=None, alter_answer=None):
        self.upstream_port = upstream_port
        self.alter_query = alter_query or (lambda b: b)
        self.alter_answer = alter_answer or (lambda b: b)
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", UPDATE_PORT))
        self.listener.listen(8)
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with client:
                client.settimeout(10)
                query = b""
                while b"</s>" not in query:
                    chunk = client.recv(65536)
                    if not chunk:
                        break
                    query += chunk
                with socket.create_connection(("127.0.0.1", self.upstream_port), 10) as server:
                    server.sendall(self.alter_query(query))
                    answer = b""
                    while True:
                        chunk = server.recv(65536)
                        if not chunk:
                            break
                        answer += chunk
                client.sendall(self.alter_answer(answer))

    def stop(self):
        # Closing alone does not wake a thread blocked in accept().
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        self.thread.join(10)


class Display:
    """An X server of our own, or the user's display."""

    def __init__(self, use_existing=False):
        self.process = None
        self.name = os.environ.get("DISPLAY") if use_existing else None
        self.auth_dir = None

    def start(self, tries=4):
        """Starts Xvfb on the first free display. Servers started at the same
        moment may reach for the same number, and one of them then gives up:
        it is started again, a little later each time. When it never starts,
        the error names what each server said."""
        if self.name:
            return
        failures = []
        for attempt in range(tries):
            failure = self.start_once()
            if failure is None:
                return
            failures.append("try %d: %s" % (attempt + 1, failure))
            time.sleep(0.5 + attempt + random.random())
        raise E2EError("Xvfb did not start:\n" + "\n".join(failures))

    def start_once(self, timeout=30):
        """None when the server runs, else what went wrong with its output."""
        read_end, write_end = os.pipe()
        with tempfile.TemporaryFile() as output:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=output, stderr=subprocess.STDOUT)
            os.close(write_end)
            number = b""
            deadline = time.time() + timeout
            # A server that hangs before it writes its number must not hang us.
            while not number.endswith(b"\n"):
                left = deadline - time.time()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    break
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
            os.close(read_end)
            if number.strip():
                self.name = ":" + number.decode().strip()
                return None
            code = self.process.poll()
            self.stop()
            output.seek(0)
            said = output.read().decode(errors="replace").strip()[-2000:]
        state = ("no display number after %d s" % timeout if code is None
                 else "exited with %d" % code)
        return "%s; its output: %s" % (state, said or "(none)")

    def stop(self):
        if self.process:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
            self.process = None

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        return env

    def run(self, *args, check=True, timeout=30):
        return subprocess.run(list(args), env=self.env(), check=check, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)

    def screenshot(self, path):
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        self.run("import", "-window", "root", str(path), check=False)

    def screenshot_window(self, window, path):
        """The screen cut to the window's place. (Grabbing the window itself
        makes import wait for a mouse click when the window has just gone.)"""
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        self.run("import", "-window", "root", "-crop",
                 "%dx%d+%d+%d" % (window.width, window.height, window.x, window.y),
                 "+repage", str(path), check=False)


class Window:
    def __init__(self, wid, title, x, y, width, height, dialog):
        self.wid = wid
        self.title = title
        self.x, self.y = x, y
        self.width, self.height = width, height
        self.dialog = dialog

    @property
    def kind(self):
        if self.dialog:
            return "box"
        size = (self.width, self.height)
        if size == DOWNLOAD_SIZE:
            return "download"
        if size == INSTALL_SIZE:
            return "install"
        if self.width == SUMMARY_SIZE[0] and 100 <= self.height <= SUMMARY_SIZE[1]:
            return "summary"
        if self.width == OFFER_WIDTH:
            return "offer"
        return "unknown"

    def __repr__(self):
        return "<%s %s %r %dx%d>" % (self.kind, self.wid, self.title, self.width, self.height)


class Desktop:
    """The updater's windows on a display, and the keys to press them."""

    def __init__(self, display):
        self.display = display

    def windows(self):
        found = self.display.run("xdotool", "search", "--onlyvisible", "--name", ".",
                                 check=False).stdout.split()
        result = []
        for wid in found:
            title = self.display.run("xdotool", "getwindowname", wid, check=False).stdout
            title = title.rstrip("\n")
            if title not in TITLES:
                continue
            geometry = self.display.run("xdotool", "getwindowgeometry", "--shell", wid,
                                        check=False).stdout
            values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
            if not values:
                continue
            kind = self.display.run("xprop", "-id", wid, "_NET_WM_WINDOW_TYPE",
                                    check=False).stdout
            result.append(Window(wid, title, int(values["X"]), int(values["Y"]),
                                 int(values["WIDTH"]), int(values["HEIGHT"]),
                                 "_NET_WM_WINDOW_TYPE_DIALOG" in kind))
        return result

    def wait_for(self, kind, timeout=60, gone=False):
        deadline = time.time() + timeout
        while time.time() < deadline:
            matching = [w for w in self.windows() if w.kind == kind]
            if gone and not matching:
                return None
            if not gone and matching:
                # Let the toolkit finish mapping and painting it.
                time.sleep(0.4)
                return matching[0]
            time.sleep(0.1)
        raise E2EError("%s window %s after %ds; windows now: %r"
                       % (kind, "still there" if gone else "did not appear", timeout,
                          self.windows()))

    def wait_gone(self, window, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if all(w.wid != window.wid for w in self.windows()):
                return
            time.sleep(0.1)
        raise E2EError("%r is still open after %ds" % (window, timeout))

    def press(self, window, *keys):
        """Gives the window the keyboard focus and types the keys. There is no
        window manager, so the focus is set directly."""
        self.display.run("xdotool", "windowfocus", "--sync", window.wid, check=False)
        time.sleep(0.3)
        for key in keys:
            self.display.run("xdotool", "key", "--clearmodifiers", key)
            time.sleep(0.15)


def processes_running(executable):
    """Pids of the processes whose executable is the given file."""
    executable = os.path.realpath(executable)
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.readlink("/proc/%s/exe" % entry) == executable:
                pids.append(int(entry))
        except OSError:
            pass
    return sorted(pids)


def command_line(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return [a.decode() for a in f.read().split(b"\0") if a]
    except OSError:
        return []


def reap(pid, timeout):
    """Waits for a child (or an orphan adopted as subreaper) and returns its
    exit code."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            done, status = os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            return None
        if done == pid:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.05)
    raise E2EError("process %d did not end within %ds" % (pid, timeout))


def component(project, name, kind, version):
    return ('<component project="%s" name="%s" type="%s" version="%s"/>\n'
            % (project, name, kind, version))


class DemoWorld:
    """A messenger installation with an older version, a user's plug-in folder,
    and a catalogue with newer packages, all below one directory."""

    def __init__(self, build, root):
        self.build = Path(build)
        self.root = Path(root)
        self.install = self.root / "Vemo Messenger"
        self.appdata = self.root / "appdata"
        self.plugins = self.appdata / "Vemo" / "plugins"
        self.catalogue = self.root / "server"
        self.tmp = self.root / "tmp"
        self.state = self.root / "state"
        self.sources = self.root / "package-sources"
        # http_proxy of the updater, when it goes through a proxy.
        self.proxy = None

    @property
    def work_dir(self):
        return self.tmp / "vupdates"

    @property
    def relocated(self):
        return self.work_dir / "updater"

    @property
    def updater(self):
        """The installation's updater, which the messenger starts."""
        return self.install / "updater"

    @property
    def journal(self):
        return self.state / "xdg-state" / "vemo-updater" / "install-journal"

    def running_updaters(self):
        """Pids of the relocated updaters that run."""
        return processes_running(self.relocated)

    def relocated_files(self):
        """What the work directory holds once a run has cleared it: the
        running updater's own files."""
        return ["updater"]

    def bundled_library(self):
        """A library shipped beside the updater that relocation copies
        along, or None when the build ships none."""
        return None

    def argument(self, path):
        """A path as the updater gets it on its command line."""
        return str(path)

    def program_argument(self, path):
        """A program's path as the updater names the program it starts."""
        return str(path)

    def install_programs(self):
        """The folders, the messenger and the updater of the installation."""
        for d in (self.install, self.plugins, self.catalogue, self.tmp,
                  self.state, self.sources):
            d.mkdir(parents=True, exist_ok=True)
        os.chmod(self.tmp, 0o700)
        shutil.copy2(self.build / "tools/vemo7.exe", self.install / "vemo7.exe")
        shutil.copy2(self.build / "src/updater", self.install / "updater")

    def create_installation(self):
        self.install_programs()
        (self.install / "core.component").write_text(component("vemo", "core", "app", "7.0.0"))
        (self.install / "readme.txt").write_text("Vemo instant messenger 7.0.0\n")
        (self.install / "lang").mkdir(exist_ok=True)
        (self.install / "lang/vemo_pl.qm").write_bytes(b"catalogue 7.0.0\n" * 64)
        (self.install / "libvemocore.so").write_bytes(os.urandom(64 * 1024))
        (self.plugins / "emoticons.component").write_text(
            component("vemo", "emoticons", "plugin", "1.0"))
        (self.plugins / "emoticons.dll").write_bytes(b"emoticons 1.0\n" * 100
                                                     + os.urandom(32 * 1024))

    def write_package(self, name, kind, version, files, url_path, manifest=None, stored=False,
                      host="127.0.0.1"):
        """files: relative path -> bytes. The component record of the new
        version is added. Returns the link to put in the catalogue."""
        folder = self.sources / ("%s-%s" % (name, version))
        if folder.exists():
            shutil.rmtree(folder)
        folder.mkdir(parents=True)
        files = dict(files)
        files.setdefault("%s.component" % name,
                         component("vemo", name, kind, version).encode())
        for rel, content in files.items():
            path = folder / rel
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)
        out = self.catalogue / url_path.lstrip("/")
        out.parent.mkdir(parents=True, exist_ok=True)
        command = [str(self.build / "tools/vemo-package"), "build", "--folder", str(folder),
                   "--out", str(out), "--url-path", url_path]
        if manifest is not None:
            manifest_file = self.sources / ("%s-%s.xml" % (name, version))
            manifest_file.write_text(manifest)
            command += ["--manifest", str(manifest_file)]
        else:
            command += ["--project", "vemo", "--name", name, "--type", kind]
        if stored:
            command.append("--stored")
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        return "http://%s%s" % (host, url_path)

    def write_delta(self, name, kind, old_files, version, url_path, full_link):
        """A delta package from the files of the installed version
        (old_files: relative path -> bytes) to the package sources of
        version, built by vemo-package delta. Returns its link and the line
        that weighs it against the full package."""
        folder = self.sources / ("%s-installed" % name)
        if folder.exists():
            shutil.rmtree(folder)
        for rel, content in old_files.items():
            path = folder / rel
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)
        out = self.catalogue / url_path.lstrip("/")
        full = self.catalogue / urlparse(full_link).path.lstrip("/")
        printed = subprocess.run(
            [str(self.build / "tools/vemo-package"), "delta", "--from", str(folder),
             "--to", str(self.sources / ("%s-%s" % (name, version))), "--out", str(out),
             "--project", "vemo", "--name", name, "--type", kind, "--url-path", url_path,
             "--full", str(full)], check=True, stdout=subprocess.PIPE, text=True).stdout
        weighed = [line for line in printed.splitlines() if line.startswith("Delta ")]
        return "http://%s%s" % (urlparse(full_link).hostname, url_path), weighed[-1]

    def write_catalogue(self, entries):
        """entries: list of dicts with name, type, version, description,
        changelog, link, and optionally delta (the link of a delta package
        made against version "from"). The size and SHA-256 of each package
        come from its archive in the catalogue directory."""
        def digests(link):
            archive = (self.catalogue / urlparse(link).path.lstrip("/")).read_bytes()
            return len(archive), hashlib.sha256(archive).hexdigest()

        parts = ["<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalogue>\n"]
        for e in entries:
            size, sha256 = digests(e["link"])
            e = dict(e, size=size, sha256=sha256, delta_element="")
            if e.get("delta"):
                size, sha256 = digests(e["delta"])
                e["delta_element"] = (
                    '  <delta from="%s">\n   <link>%s</link>\n   <size>%d</size>\n'
                    "   <sha256>%s</sha256>\n  </delta>\n" % (e["from"], e["delta"], size, sha256))
            parts.append(
                ' <component project="vemo" name="%(name)s" type="%(type)s">\n'
                "  <version>%(version)s</version>\n"
                "  <description>%(description)s</description>\n"
                "  <changelog>%(changelog)s</changelog>\n"
                "  <link>%(link)s</link>\n"
                "  <critical>false</critical>\n"
                "  <timestamp>1765000000</timestamp>\n"
                "  <size>%(size)d</size>\n"
                "  <sha256>%(sha256)s</sha256>\n"
                "%(delta_element)s"
                " </component>\n" % e)
        parts.append("</catalogue>\n")
        (self.catalogue / "catalogue.xml").write_text("".join(parts), encoding="utf-8")

    def installed_files(self, folder, names):
        return {name: (folder / name).read_bytes() for name in names}

    def standard_update(self, slow=False, folder="releases", host="127.0.0.1", delta=False):
        """Newer "core" (app) and "emoticons" (plugin) packages, each replacing
        files and adding one, in a folder of the download server ("slow" when
        slow) reached by the given host name. With delta, the new library
        differs from the installed one in a few bytes, and the catalogue
        offers a delta package of each against the installed version.
        Returns the lines that weigh the deltas against the full packages."""
        prefix = "/%s/" % ("slow" if slow else folder)
        def patched(path):
            data = bytearray(path.read_bytes())
            for at in (100, len(data) // 2, len(data) - 100):
                data[at:at + 8] = b"7.1.0fix"
            return bytes(data)
        if delta:
            library = patched(self.install / "libvemocore.so")
            emoticons_library = patched(self.plugins / "emoticons.dll")
        else:
            library = os.urandom(64 * 1024) + (os.urandom(1024 * 1024) if slow else b"")
            emoticons_library = b"emoticons 1.1\n" * 120
        core_installed = self.installed_files(
            self.install, ["core.component", "readme.txt", "lang/vemo_pl.qm", "libvemocore.so"])
        emoticons_installed = self.installed_files(
            self.plugins, ["emoticons.component", "emoticons.dll"])
        core = self.write_package("core", "app", "7.1.0", {
            "readme.txt": b"Vemo instant messenger 7.1.0\n",
            "lang/vemo_pl.qm": b"catalogue 7.1.0\n" * 64,
            "libvemocore.so": library,
            "whatsnew.txt": "Co nowego w 7.1: szybszy start, poprawki.\n".encode(),
        }, prefix + "core-7.1.0.zip", host=host)
        emoticons = self.write_package("emoticons", "plugin", "1.1", {
            "emoticons.dll": emoticons_library,
            "smileys/extra.png": os.urandom(2048),
        }, prefix + "emoticons-1.1.zip", host=host)
        core_entry = dict(name="core", type="app", version="7.1.0",
                          description="Komunikator Vemo", link=core,
                          changelog="Szybszy start programu\nNowy tekst powitalny\nPoprawki błędów")
        emoticons_entry = dict(name="emoticons", type="plugin", version="1.1",
                               description="Emotikony", link=emoticons,
                               changelog="Dwanaście nowych emotikon")
        weighed = []
        if delta:
            for entry, installed, version in ((core_entry, core_installed, "7.0.0"),
                                              (emoticons_entry, emoticons_installed, "1.0")):
                entry["delta"], line = self.write_delta(
                    entry["name"], entry["type"], installed, entry["version"],
                    "%s%s-%s-%s.zip" % (prefix, entry["name"], version, entry["version"]),
                    entry["link"])
                entry["from"] = version
                weighed.append("%s: %s" % (entry["name"], line))
        self.write_catalogue([core_entry, emoticons_entry])
        return weighed

    @property
    def runtime_gate(self):
        """The file the runtime installer of large_update() waits for; it
        makes the same name with ".started" when it starts."""
        return self.state / "runtime-gate"

    def large_update(self, files=2000):
        """A "core" package of many small files, then an "emoticons" package
        that ships a runtime installer, which waits until the scenario opens
        the gate: the install window stays half-way for as long as needed."""
        many = {"lang/extra/%04d.txt" % i: ("plik %d\n" % i).encode() * (1 + i % 40)
                for i in range(files)}
        many["readme.txt"] = b"Vemo instant messenger 7.1.0\n"
        core = self.write_package("core", "app", "7.1.0", many, "/core-7.1.0.zip")
        gate = ('#!/bin/sh\n'
                'touch "$VEMO_E2E_GATE.started"\n'
                'i=0\n'
                'while [ ! -e "$VEMO_E2E_GATE" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n'
                'exit 0\n')
        emoticons = self.write_package("emoticons", "plugin", "1.1", {
            "emoticons.dll": b"emoticons 1.1\n" * 120,
            "redist/vcredist.exe": gate.encode(),
        }, "/emoticons-1.1.zip")
        self.write_catalogue([
            dict(name="core", type="app", version="7.1.0", description="Komunikator Vemo",
                 changelog="Nowe tłumaczenia", link=core),
            dict(name="emoticons", type="plugin", version="1.1", description="Emotikony",
                 changelog="Nowy pakiet uruchomieniowy", link=emoticons),
        ])

    def broken_update(self):
        """A good "core" package and an "emoticons" package that replaces its
        files and then turns out to be of the wrong type: the installation
        fails after files were applied, and everything must be rolled back.
        Both packages only replace files, so a rollback restores the folders
        exactly."""
        core = self.write_package("core", "app", "7.1.0", {
            "readme.txt": b"Vemo instant messenger 7.1.0\n",
            "libvemocore.so": os.urandom(64 * 1024),
        }, "/core-7.1.0.zip")
        manifest = ('<?xml version="1.0"?>\n<package project="vemo" name="emoticons">\n'
                    ' <file path="" name="emoticons.dll" action="add"/>\n'
                    ' <file path="" name="emoticons.component" action="add"/>\n'
                    ' <package type="app"/>\n</package>\n')
        emoticons = self.write_package("emoticons", "plugin", "1.1", {
            "emoticons.dll": b"broken emoticons\n",
        }, "/emoticons-1.1.zip", manifest=manifest)
        self.write_catalogue([
            dict(name="core", type="app", version="7.1.0", description="Komunikator Vemo",
                 changelog="Poprawki", link=core),
            dict(name="emoticons", type="plugin", version="1.1", description="Emotikony",
                 changelog="Nowe emotikony", link=emoticons),
        ])

    def expected_after_standard_update(self, before_install, before_plugins):
        """What the two folders hold after the standard update, from the
        package sources."""
        install = dict(before_install)
        plugins = dict(before_plugins)
        for folder, target in ((self.sources / "core-7.1.0", install),
                               (self.sources / "emoticons-1.1", plugins)):
            for path in sorted(folder.rglob("*")):
                rel = str(path.relative_to(folder))
                if path.is_dir():
                    target.setdefault(rel, ("dir",))
                    continue
                parts = rel.split("/")
                for i in range(1, len(parts)):
                    target.setdefault("/".join(parts[:i]), ("dir",))
                target[rel] = ("file", hashlib.sha256(path.read_bytes()).hexdigest())
        return install, plugins

    def env(self, display):
        env = display.env()
        env["TMPDIR"] = str(self.tmp)
        env["APPDATA"] = str(self.appdata)
        runtime = self.state / "runtime"
        runtime.mkdir(parents=True, exist_ok=True)
        os.chmod(runtime, 0o700)
        env["XDG_RUNTIME_DIR"] = str(runtime)
        # The updater's journal and lock stay with this scenario.
        env["XDG_STATE_HOME"] = str(self.state / "xdg-state")
        env["VEMO_E2E_GATE"] = str(self.runtime_gate)
        env.pop("QT_QPA_PLATFORM", None)
        env["QT_QPA_PLATFORM"] = "xcb"
        for name in ("http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"):
            env.pop(name, None)
        if self.proxy:
            env["http_proxy"] = self.proxy
        return env

    def start_updater(self, display, *args):
        """Starts the updater in the installation directory, as the
        messenger would."""
        # The relocated updater inherits the output channels: a file, not a
        # pipe, so nobody waits for it to close them.
        output = open(self.state / "updater-output.log", "ab")
        try:
            return subprocess.Popen([str(self.install / "updater"), *args],
                                    env=self.env(display), cwd=str(self.install),
                                    stdout=output, stderr=subprocess.STDOUT)
        finally:
            output.close()

    def messenger_starts(self):
        record = self.install / "vemo7.started"
        if not record.exists():
            return []
        return [l for l in record.read_text().splitlines() if l.strip()]


def without_mode(listing):
    """Tree listing without permissions, to compare with the package sources."""
    return {k: v[:2] for k, v in listing.items()}


def wait_for_relocated(world, known=(), timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        pids = [p for p in world.running_updaters() if p not in known]
        if pids:
            return pids[0]
        time.sleep(0.05)
    raise E2EError("no relocated updater appeared in %s" % world.work_dir)


def make_temp_root(prefix):
    return Path(tempfile.mkdtemp(prefix=prefix))
