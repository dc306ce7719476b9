"""Drives the real websetup binary as a person does.

Each road gets its own X server (Xvfb), its own maker-services and its own
folders. Positions come from the window's probe (WEBSETUP_UI_PROBE: the
framework writes where each named control is drawn); the clicks and the
typing go through xdotool, so the real SDL event path is what is tested.
Screenshots are taken from the X server with ImageMagick's `import`.
The oracles are the journal of maker-services, the files on disk and the
setup's log.
"""

import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import urllib.parse
import urllib.request

BUILD = os.environ.get("WEBSETUP_BUILD_DIR", "")
BIN = os.path.join(BUILD, "bin")
SAMPLE = os.path.join(BUILD, "sample-installer")
MAIN_CLASS_CONTROL = "main_tablayout"
# The x86_64 Windows build (build-win64): roads made with windows=True run
# its websetup.exe under wine64, against the same Linux maker-services.
WIN_BUILD = os.environ.get("WEBSETUP_WIN_BUILD_DIR", "")
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
# Makes a prefix as a copy that shares Wine's own files with its source.
WINE_PREFIX_SH = os.path.join(SOURCE, "scripts", "windows", "wine-prefix.sh")


def windows_path(path):
    """`path` as a Windows program under Wine names it (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class RoadFailed(AssertionError):
    pass


def _share(src, dst):
    """Puts src at dst as a second name of the same file where the file
    system allows it (the roads only read these), as a copy where not."""
    try:
        os.link(src, dst)
    except OSError:
        shutil.copy2(src, dst)


def _alive(pid):
    """Whether process `pid` exists and is not a zombie waiting to be reaped."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def _kill(proc, sig=signal.SIGTERM, wait=5.0):
    if proc is None or proc.poll() is not None:
        return
    try:
        proc.send_signal(sig)
        proc.wait(timeout=wait)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


class Road:
    """One road: an X server, maker-services, a setup folder, the journal.

    `variant` picks the program: "websetup" as shipped, or "websetup-e2e"
    (the same program with a configuration that shows the finished page,
    the launch splash, and a short installer time-out).
    """

    def __init__(self, name, artifacts, variant="websetup-e2e", scenario="downloader.xml",
                 dev_settings=None, services_args=(), windows=False, display=None):
        self.name = name
        self.windows_build = WIN_BUILD if windows else ""
        if windows and not WIN_BUILD:
            raise RoadFailed("a Windows road needs WEBSETUP_WIN_BUILD_DIR (the x86_64 build)")
        self.started = time.monotonic()
        self.steps = []
        self.root = os.path.join(artifacts, name)
        # A failed attempt's folder outlives the retry that follows it.
        if os.path.exists(os.path.join(self.root, "FAILED")):
            shutil.rmtree(self.root + ".failed", ignore_errors=True)
            os.rename(self.root, self.root + ".failed")
        shutil.rmtree(self.root, ignore_errors=True)
        for sub in ("served", "shots", "probe", "setup", "home", "tmp", "run"):
            os.makedirs(os.path.join(self.root, sub))
        self.served = os.path.join(self.root, "served")
        self.probe_dir = os.path.join(self.root, "probe")
        self.shots = os.path.join(self.root, "shots")
        self.programs = os.environ.get("DEMO_INSTALL_ROOT") or os.path.join(self.root, "programs")
        self.appdata = os.path.join(self.root, "appdata")
        sample = SAMPLE
        if self.windows_build:
            # Wine sets APPDATA and ProgramFiles from its prefix, so each
            # road has a prefix of its own (a copy of one booted once): the
            # product, the setup's logs and the registry start clean.
            self.prefix = os.path.join(self.root, "wine-prefix")
            subprocess.run([WINE_PREFIX_SH, self.prefix, self._prefix_template()], check=True)
            users = glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "AppData", "Roaming"))
            self.appdata = users[0] if users else os.path.join(self.root, "appdata")
            self.programs = os.path.join(self.prefix, "drive_c", "Program Files")
            sample = os.path.join(self.windows_build, "sample-installer")
        self.sample = sample
        self.registry = os.path.join(self.root, "registry")
        self.started_file = os.path.join(self.root, "product-started.txt")
        self.args_file = os.path.join(self.root, "installer-args.txt")
        for f in ("setup_orlastra.exe", "setup_orlastra_foreign.exe"):
            if os.path.exists(os.path.join(sample, f)):
                _share(os.path.join(sample, f), os.path.join(self.served, f))
        shutil.copy(os.path.join(sample, scenario), os.path.join(self.served, "downloader.xml"))
        for f in glob.glob(os.path.join(sample, "downloader*.xml")):
            if not os.path.exists(os.path.join(self.served, os.path.basename(f))):
                shutil.copy(f, self.served)
        subprocess.run([os.path.join(BIN, "skin-art"), "--banners", self.served], check=True,
                       stdout=subprocess.DEVNULL)
        # The program reads its developer settings beside itself.
        if self.windows_build:
            self.exe = os.path.join(self.root, "setup", "websetup.exe")
            _share(os.path.join(self.windows_build, "bin", variant + ".exe"), self.exe)
        else:
            self.exe = os.path.join(self.root, "setup", "websetup")
            _share(os.path.join(BIN, variant), self.exe)
        if dev_settings:
            with open(os.path.join(self.root, "setup", "qm_downloader.cfg"), "w") as f:
                f.write("[Settings]\n" + "".join(f"{k}={v}\n" for k, v in dev_settings.items()))
        self.xvfb = None
        self.compositor = None
        self.services = None
        self.setups = []
        if display:
            self.display = display  # a person's own display: no Xvfb
        else:
            self._start_xvfb()
        # E2E_COMPOSITOR=1 runs the roads under a compositing manager, where
        # the splash's shadow and corners are blended instead of cut.
        if os.environ.get("E2E_COMPOSITOR") == "1":
            self.compositor = subprocess.Popen(["xcompmgr", "-d", self.display],
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)
        self._start_services(services_args)

    # ----------------------------------------------------------- processes

    def _prefix_template(self):
        """A Wine prefix made once per Windows build, copied by each road."""
        template = os.path.join(self.windows_build, "wine-prefix-roads")
        if not os.path.exists(os.path.join(template, "system.reg")):
            partial = template + ".partial"
            shutil.rmtree(template, ignore_errors=True)
            shutil.rmtree(partial, ignore_errors=True)
            subprocess.run([WINE_PREFIX_SH, partial], check=True)
            env = {**os.environ, "WINEPREFIX": partial, "WINEDEBUG": "-all",
                   "WINEDLLOVERRIDES": "mscoree,mshtml="}
            env.pop("DISPLAY", None)
            # Xvfb runs no window manager. Left "managed", a hidden window
            # waits for a withdrawal no manager makes, and its X window
            # stays on the screen, taking the next click meant for the
            # window under it (the owner of a message box just closed).
            subprocess.run([WINE64, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                            "/t", "REG_SZ", "/d", "N", "/f"], env=env, check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run([WINESERVER, "-w"], env=env, check=False)
            os.rename(partial, template)
        return template

    def command(self, args=()):
        """The command line that runs the road's setup."""
        if self.windows_build:
            return [os.path.join(SOURCE, "scripts", "windows", "wine-run.sh"), self.exe, *args]
        return [self.exe, *args]

    def _start_xvfb(self):
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.root, "xvfb.log"), "w"))
        os.close(w)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        if not number.strip():
            raise RoadFailed("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def _start_services(self, extra):
        port_file = os.path.join(self.root, "port")
        self.journal_path = os.path.join(self.root, "journal.jsonl")
        self.services = subprocess.Popen(
            [os.path.join(BIN, "maker-services"), "--port", "0", "--port-file", port_file, "--root",
             self.served, "--journal", self.journal_path, *extra],
            stdout=open(os.path.join(self.root, "maker-services.log"), "w"), stderr=subprocess.STDOUT)
        self.wait(lambda: os.path.exists(port_file) and open(port_file).read().strip(), 10,
                  "maker-services to listen")
        self.base = "http://127.0.0.1:" + open(port_file).read().strip()

    def env(self, lang="en_US.UTF-8", installer_seconds="1", extra=None):
        e = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "DISPLAY": self.display,
            "HOME": os.path.join(self.root, "home"),
            "TMPDIR": os.path.join(self.root, "tmp"),
            "XDG_RUNTIME_DIR": os.path.join(self.root, "run"),
            "LANG": lang,
            "LC_ALL": lang,
            "WEBSETUP_SERVICES_BASE": self.base,
            "WEBSETUP_TRUSTED_CA": os.path.join(SAMPLE, "test-ca.pem"),
            "WEBSETUP_SIGNER_PINS": os.path.join(SAMPLE, "signer.sha256"),
            "WEBSETUP_REGISTRY": self.registry,
            "WEBSETUP_CACHE_ROOT": os.path.join(self.root, "cache"),
            "WEBSETUP_UI_PROBE": self.probe_dir,
            "WEBSETUP_RUN_ROOT": os.path.join(self.root, "run"),
            "WEBSETUP_OPEN_COMMAND": "/bin/true",
            "APPDATA": self.appdata,
            "ProgramFiles": self.programs,
            "ORLASTRA_STARTED_FILE": self.started_file,
            "SAMPLE_INSTALLER_SECONDS": installer_seconds,
            "SAMPLE_INSTALLER_ARGS_FILE": self.args_file,
            "SDL_VIDEODRIVER": "x11",
            "SDL_EVENT_LOGGING": os.environ.get("SDL_EVENT_LOGGING", ""),
        }
        if self.windows_build:
            # The Windows program reads Windows paths (its folders change
            # to drive C:, where / would mean C:\\); Wine's own variables
            # stay Wine's.
            for key in ("WEBSETUP_TRUSTED_CA", "WEBSETUP_SIGNER_PINS", "WEBSETUP_CACHE_ROOT",
                        "WEBSETUP_UI_PROBE", "WEBSETUP_RUN_ROOT", "ORLASTRA_STARTED_FILE",
                        "SAMPLE_INSTALLER_ARGS_FILE"):
                e[key] = windows_path(e[key])
            for key in ("APPDATA", "ProgramFiles", "WEBSETUP_REGISTRY", "SDL_VIDEODRIVER",
                        "SDL_EVENT_LOGGING"):
                e.pop(key, None)
            e["WEBSETUP_TRUSTED_CA"] = windows_path(os.path.join(self.sample, "test-ca.pem"))
            e["WEBSETUP_SIGNER_PINS"] = windows_path(os.path.join(self.sample, "signer.sha256"))
            e["WEBSETUP_OPEN_COMMAND"] = "C:\\windows\\system32\\hostname.exe"
            e["WEBSETUP_WINEPREFIX"] = self.prefix
            e["WEBSETUP_WINE_DISPLAY"] = self.display
        if extra:
            e.update(extra)
        return e

    def start_setup(self, args=(), **env):
        out = open(os.path.join(self.root, f"websetup-{len(self.setups) + 1}.out"), "w")
        proc = subprocess.Popen(self.command(args), env=self.env(**env), stdout=out,
                                stderr=subprocess.STDOUT, cwd=os.path.join(self.root, "setup"))
        self.setups.append(proc)
        self.step(f"started websetup (pid {proc.pid})")
        return proc

    def mode(self, key, value=""):
        """Sets a run-time mode of maker-services (an empty value removes it)."""
        query = urllib.parse.urlencode({"key": key, "value": value})
        req = urllib.request.Request(f"{self.base}/control/mode?{query}", data=b"", method="POST")
        urllib.request.urlopen(req, timeout=5).read()

    def close(self):
        for proc in self.setups:
            _kill(proc)
        if self.windows_build:
            # Everything the road's setups started runs in its own prefix.
            env = {**os.environ, "WINEPREFIX": self.prefix}
            subprocess.run([WINESERVER, "-k"], env=env, check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The product the setup started, when it still runs (a Windows
        # product's id is Wine's, not one of this system's).
        pid = None if self.windows_build else self.product_pid()
        ended = [pid] if pid else []
        if pid:
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        # What the setups started in the road's folders (an installer still
        # running, a restarted setup, a report process) ends with the road.
        for pid_dir in glob.glob("/proc/[0-9]*"):
            try:
                with open(os.path.join(pid_dir, "cmdline"), "rb") as f:
                    cmdline = f.read().decode(errors="replace")
                if self.root + "/" in cmdline and int(os.path.basename(pid_dir)) != os.getpid():
                    os.kill(int(os.path.basename(pid_dir)), signal.SIGKILL)
                    ended.append(int(os.path.basename(pid_dir)))
            except (OSError, ValueError):
                pass
        # Gone before the next road starts: its setup finds a product still
        # in the process list running, and asks to close it first.
        deadline = time.monotonic() + 5
        while ended and time.monotonic() < deadline:
            ended = [p for p in ended if _alive(p)]
            if ended and time.monotonic() > deadline - 3:
                for p in ended:  # the product had two seconds to end by itself
                    try:
                        os.kill(p, signal.SIGKILL)
                    except OSError:
                        pass
            time.sleep(0.05)
        _kill(self.services)
        _kill(self.compositor)
        _kill(self.xvfb)

    # --------------------------------------------------------------- probe

    def windows(self):
        found = []
        for path in glob.glob(os.path.join(self.probe_dir, "window-*.json")):
            try:
                with open(path, encoding="utf-8") as f:
                    w = json.load(f)
            except (OSError, ValueError):
                continue  # removed or replaced while read
            if w.get("shown"):
                w["handle"] = int(os.path.basename(path)[7:-5])
                found.append(w)
        return sorted(found, key=lambda w: w["handle"])

    def main(self):
        for w in self.windows():
            if MAIN_CLASS_CONTROL in w["controls"]:
                return w
        return None

    def window(self, cls):
        shown = [w for w in self.windows() if w["class"] == cls]
        return shown[-1] if shown else None

    def message_box(self):
        return self.window("MESSAGEBOX_UI_Frame")

    def splash(self):
        return self.window("CALIENTWND_UI_Frame")

    def page(self):
        """The shown page of the main window: setting, running, finished."""
        w = self.main()
        if w is None:
            return None
        pages = w["pages"]
        if pages.get(MAIN_CLASS_CONTROL) == 1:
            return "running"
        if pages.get(MAIN_CLASS_CONTROL) == 0:
            return "finished" if pages.get("page_layout") == 1 else "setting"
        return "other"

    def control(self, name, window=None):
        w = window or self.main()
        if w is None or name not in w["controls"]:
            return None
        return w["controls"][name]

    # ------------------------------------------------------------- actions

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env={**os.environ, "DISPLAY": self.display}, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _x_windows(self):
        """(x, y, width, height) of every viewable X window of the setups."""
        found = []
        for proc in self.setups:
            if proc.poll() is not None:
                continue
            env = {**os.environ, "DISPLAY": self.display}
            # Wine's windows carry the id of Wine's process, not of the
            # script that started it; the road's X server shows no others.
            which = (["--classname", "websetup"] if self.windows_build else ["--pid", str(proc.pid)])
            ids = subprocess.run(["xdotool", "search", "--onlyvisible", *which], env=env,
                                 capture_output=True, text=True).stdout.split()
            for wid in ids:
                out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid], env=env,
                                     capture_output=True, text=True).stdout
                g = dict(line.split("=", 1) for line in out.split() if "=" in line)
                if {"X", "Y", "WIDTH", "HEIGHT"} <= g.keys():
                    found.append((int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])))
        return found

    def _wait_mapped(self, get):
        """Waits until the X server shows the window where the probe says it
        is: a click before the window is mapped reaches the root window."""
        def mapped():
            w = get()
            if not w:
                return False
            b = w["bounds"]
            s = w["scale"]
            want = (b[0], b[1], round((b[2] - b[0]) * s), round((b[3] - b[1]) * s))
            return want in self._x_windows() or (b[0], b[1]) in [(x, y) for x, y, _, _ in self._x_windows()]
        self.wait(mapped, 15, f"the X server to show window {(get() or {}).get('class')}")

    def press(self, x, y, button="1"):
        """Moves the pointer to screen point (x, y), rests there as a hand
        does, and clicks: a press in the same instant as the pointer enters
        the window is dropped by the X event path."""
        self.xdotool("mousemove", str(x), str(y))
        time.sleep(0.15)
        self.xdotool("click", button)

    def _point(self, window, rect):
        s = window["scale"]
        left, top = window["bounds"][0], window["bounds"][1]
        return (int(left + (rect[0] + rect[2]) / 2 * s), int(top + (rect[1] + rect[3]) / 2 * s))

    def click(self, name, window=None, what=None):
        """Clicks the centre of control `name` where the probe says it is drawn."""
        get = window if callable(window) else (lambda: window or self.main())
        self.wait(lambda: (lambda w: w and name in w["controls"] and w["controls"][name]["enabled"])(get()),
                  15, f"control {name} to be shown")
        self._wait_mapped(get)
        w = get()
        x, y = self._point(w, w["controls"][name]["rect"])
        self.press(x, y)
        self.step(what or f"clicked {name}")

    def click_link(self, name, index=0, what=None):
        """Clicks link `index` of text control `name` (the probe finds a point inside it)."""
        self.wait(lambda: (self.control(name) or {}).get("links", [[-1]])[index][0] >= 0, 15,
                  f"link {index} of {name}")
        self._wait_mapped(self.main)
        w = self.main()
        x, y = w["controls"][name]["links"][index]
        s = w["scale"]
        self.press(int(w["bounds"][0] + x * s), int(w["bounds"][1] + y * s))
        self.step(what or f"clicked link {index} of {name}")

    def click_row(self, combo, index, what=None):
        """Opens combo `combo` if needed and clicks its row for item `index`."""
        c = self.control(combo)
        if not c or not c.get("dropped"):
            self.click(combo, what=f"opened {combo}")
        self.wait(lambda: (self.control(combo) or {}).get("rows"), 5, f"the list of {combo} to open")
        def row():
            c = self.control(combo)
            return next((r for r in (c or {}).get("rows", []) if r["index"] == index), None)
        # A row out of view is wheeled into it, as a person would.
        for _ in range(30):
            if row():
                break
            w = self.main()
            x, y = self._point(w, self.control(combo)["rows"][-1]["rect"])
            self.press(x, y, "5")
            time.sleep(0.1)
        r = self.wait(row, 5, f"row {index} of {combo}")
        x, y = self._point(self.main(), r["rect"])
        self.press(x, y)
        self.step(what or f"chose item {index} ({r['text']}) of {combo}")

    def type_into(self, name, text):
        """Clicks edit `name`, selects all it holds and types `text`."""
        self.click(name, what=f"clicked into {name}")
        self.xdotool("key", "ctrl+a")
        self.xdotool("type", "--delay", "15", text)
        self.step(f"typed {text!r} into {name}")

    def shot(self, label):
        # What the probe shows should be on the screen too: a window just
        # created is drawn before the X server maps it.
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            shown = self._x_windows()
            if all((w["bounds"][0], w["bounds"][1]) in [(x, y) for x, y, _, _ in shown] for w in self.windows()):
                break
            time.sleep(0.1)
        time.sleep(0.2)  # and painted
        path = os.path.join(self.shots, f"{len(os.listdir(self.shots)) + 1:02d}-{label}.png")
        subprocess.run(["import", "-window", "root", path], env={**os.environ, "DISPLAY": self.display},
                       check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.step(f"screenshot {os.path.relpath(path, self.root)}")
        return path

    @staticmethod
    def pixel(path, x, y):
        """The (r, g, b) of a screenshot at (x, y)."""
        out = subprocess.run(["convert", path, "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-"],
                             capture_output=True, text=True, check=False).stdout
        match = re.search(r"#([0-9A-Fa-f]{6})", out)
        if not match:
            return None
        value = int(match.group(1), 16)
        return (value >> 16, (value >> 8) & 0xff, value & 0xff)

    # ------------------------------------------------------------ oracles

    def wait(self, predicate, seconds, what):
        deadline = time.monotonic() + seconds
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > deadline:
                self.shot("failed")
                raise RoadFailed(f"{self.name}: timed out after {seconds} s waiting for {what}")
            time.sleep(0.1)

    def wait_page(self, page, seconds=30):
        self.wait(lambda: self.page() == page, seconds, f"the {page} page")
        self.step(f"window shows the {page} page")

    def wait_box(self, kind, seconds=30):
        """Waits for the message box of `kind` (the log names each box shown)."""
        # The newest setup's log: an earlier run of the road may have shown
        # the same kind.
        def shown():
            logs = self.log_files()
            if not logs or not self.message_box():
                return False
            with open(logs[-1], encoding="utf-8", errors="replace") as f:
                return f" ShowMsgBox: {kind}\n" in f.read()
        self.wait(shown, seconds, f"message box {kind}")
        self.step(f"message box {kind}: {self.control('msg_describe', self.message_box())['text'][:70]!r}")
        return self.message_box()

    def click_box(self, button, what=None):
        box = self.message_box()
        self.click(button, window=lambda: self.window("MESSAGEBOX_UI_Frame"), what=what or f"message box: {button}")
        self.wait(lambda: all(w["handle"] != box["handle"] for w in self.windows()), 10,
                  "the message box to close")

    def log_files(self):
        # The installer writes its own log beside the setup's ("..._Setup_...").
        logs = glob.glob(os.path.join(self.appdata, "RUDarodiridu", "logs", "*", "*.log"))
        # The last written last: the setup still at work is the one whose
        # log is newest (order by name for the order of the starts).
        return sorted((p for p in logs if "_Setup_" not in os.path.basename(p)), key=os.path.getmtime)

    def log_text(self):
        text = ""
        for path in self.log_files():
            with open(path, encoding="utf-8", errors="replace") as f:
                text += f.read()
        return text

    def log_has(self, needle):
        return needle in self.log_text()

    def journal(self):
        lines = []
        try:
            with open(self.journal_path, encoding="utf-8") as f:
                for line in f:
                    if line.strip():
                        lines.append(json.loads(line))
        except OSError:
            pass
        return lines

    def funnel(self):
        steps = []
        for r in self.journal():
            if r["path"].endswith("/collect") and r.get("body", "").strip().startswith("{"):
                a = json.loads(r["body"]).get("actions", {})
                steps.append(a.get("event_action"))
        return steps

    def ga4(self):
        events = []
        for r in self.journal():
            if r["path"].endswith("/g/collect"):
                q = urllib.parse.parse_qs(r["query"])
                events.append((q.get("ep.qm_category", [""])[0], q.get("ep.qm_action", [""])[0],
                               q.get("ep.qm_label", [""])[0]))
        return events

    def file_requests(self):
        return [r for r in self.journal() if "/files/" in r["path"]]

    def installed_exe(self):
        found = glob.glob(os.path.join(self.programs, "**", "Orlastra.exe"), recursive=True)
        return found[0] if found else None

    def product_pid(self):
        try:
            with open(self.started_file) as f:
                for line in f:
                    if line.startswith("pid="):
                        return int(line[4:])
        except (OSError, ValueError):
            pass
        return None

    def wait_exit(self, proc, seconds=30):
        self.wait(lambda: proc.poll() is not None, seconds, f"websetup (pid {proc.pid}) to end")
        self.step(f"websetup ended with {proc.returncode}")
        return proc.returncode

    def keep_failure(self, error):
        """Marks the road's folder as a failure (the next attempt keeps it as
        <road>.failed) and prints the end of the setup's newest log, which a
        CI log otherwise lacks."""
        with open(os.path.join(self.root, "FAILED"), "w", encoding="utf-8") as f:
            f.write(f"{error!r}\n")
        logs = self.log_files()
        if logs:
            with open(logs[-1], encoding="utf-8", errors="replace") as f:
                tail = f.read().splitlines()[-15:]
            print(f"--- end of {os.path.basename(logs[-1])}", *tail, "---", sep="\n", flush=True)

    def step(self, text):
        t = time.monotonic() - self.started
        self.steps.append(f"{t:6.1f} s  {text}")
        print(f"[{self.name} {t:6.1f}s] {text}", flush=True)

    def expect(self, condition, what):
        if not condition:
            self.shot("failed")
            raise RoadFailed(f"{self.name}: expected {what}")
        self.step(f"ok: {what}")

    def summary(self):
        funnel = self.funnel()
        ga4 = self.ga4()
        errors = [f"{a} ({l})" for c, a, l in ga4 if a == "FlowError" or c == "FlowError"]
        lines = [f"### {self.name} ({time.monotonic() - self.started:.1f} s)", ""]
        lines += [f"    {s}" for s in self.steps]
        lines += ["", f"- GA4 events ({len(ga4)}): {', '.join(a for _, a, _ in ga4) or 'none'}",
                  f"- flow errors: {', '.join(errors) or 'none'}",
                  f"- funnel records: {len(funnel)}",
                  f"- file requests: {len(self.file_requests())}, "
                  f"{sum(r.get('bytes_sent', 0) for r in self.file_requests())} bytes", ""]
        return "\n".join(lines)


def run_roads(roads, artifacts, only=()):
    """Runs each road (name, Road keyword arguments, function of the Road).

    Writes every road's summary to <artifacts>/summary.md; the command line
    may name the roads to run. Returns 1 when any failed.
    """
    os.makedirs(artifacts, exist_ok=True)
    only = set(only)
    failed, texts = [], []
    for name, options, fn in roads:
        if only and name not in only:
            continue
        road = None
        try:
            road = Road(name, artifacts, **options)
            fn(road)
            road.step("road passed")
        except Exception as e:  # every road is reported, whatever broke
            failed.append(name)
            print(f"FAILED {name}: {e!r}", flush=True)
            if road is not None:
                road.step(f"FAILED: {e}")
                road.keep_failure(e)
        finally:
            if road is not None:
                road.close()
                texts.append(road.summary())
    with open(os.path.join(artifacts, "summary.md"), "a", encoding="utf-8") as f:
        f.write("\n".join(texts) + "\n")
    print("\n".join(texts))
    print(f"e2e summary: {os.path.join(artifacts, 'summary.md')}")
    if failed:
        print(f"failed roads: {', '.join(failed)}")
    return 1 if failed else 0
