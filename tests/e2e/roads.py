#!/usr/bin/env python3
"""The roads a person takes through the real setup window (driver.py).

    roads.py --group install|faults|windows [--artifacts DIR] [ROAD ...]

Screenshots, logs, journals and summary.md land under DIR (default
build/e2e). Each road is one or a few runs of the real program; several
roads share a run where one person's session would cover them.
"""

import argparse
import glob
import hashlib
import os
import re
import signal
import subprocess
import sys
import threading
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import driver  # noqa: E402

GERMAN = 4  # the combo's item for German (the window's language order)
FUNNEL = ["1.Launch", "2.DownStart", "3.Downloading...", "4.DownFinsh", "5.ProgramInstall",
          "6.ProgramFinsh", "7.ProgramLaunch", "9.StartWindow"]


def funnel_steps(road):
    """The numbered steps of the install funnel the GA4 collector received."""
    return [a for _, a, _ in road.ga4() if a in FUNNEL]


def registry_values(road):
    """Every values file of the road's registry store, as text."""
    texts = []
    for path in glob.glob(os.path.join(road.registry, "**", "@values"), recursive=True):
        with open(path, encoding="utf-8", errors="replace") as f:
            texts.append(f.read())
    return "\n".join(texts)


def installer_args(road):
    try:
        with open(road.args_file, encoding="utf-8") as f:
            return f.read()
    except OSError:
        return ""


def close_code(road):
    found = re.findall(r" Close: (close0\d)", road.log_text())
    return found[-1] if found else None


def close_window(road, setup, answer="btn_yes"):
    """Clicks the window's close button; a question before closing (kind 2,
    "cancel the installation?") gets `answer`."""
    road.click("closebtn", what="clicked the close button")
    road.wait(lambda: setup.poll() is not None or road.message_box(), 10, "the window to close or ask")
    if setup.poll() is None and road.message_box():
        road.wait_box(2, 5)
        road.click_box(answer, what=f"answered the close question: {answer}")


def tick_and_install(road):
    road.click("license_checkbox", what="ticked the licence box")
    road.wait(lambda: road.control("license_checkbox")["selected"], 5, "the licence box to be ticked")
    road.click("install_btn", what="clicked Install")


def wait_finished(road, seconds=90):
    """Waits for the finished page of a run that succeeded (no retry text)."""
    road.wait(lambda: road.page() == "finished" and not road.control("text_fail_retry"), seconds,
              "the finished page of a successful run")
    road.step("window shows the finished page")


def wait_installed(road, seconds=60):
    road.wait(road.installed_exe, seconds, "the product to be installed")
    road.step(f"product installed: {os.path.relpath(road.installed_exe(), road.root)}")


def write_scenario(road, installer=None, **elements):
    """Rewrites the road's <Downloader> answer: another installer file (its
    MD5 and size follow) and other element values."""
    path = os.path.join(road.served, "downloader.xml")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if installer:
        with open(os.path.join(road.served, installer), "rb") as f:
            data = f.read()
        text = text.replace("setup_orlastra.exe", installer)
        text = re.sub(r"<Md5>[^<]*</Md5>", f"<Md5>{hashlib.md5(data).hexdigest()}</Md5>", text)
        text = re.sub(r"<Md5_extra>[^<]*</Md5_extra>", f"<Md5_extra>{hashlib.md5(data).hexdigest()}</Md5_extra>", text)
        text = re.sub(r"<Filesize>[^<]*</Filesize>", f"<Filesize>{len(data)}</Filesize>", text)
    for name, value in elements.items():
        text = re.sub(rf"<{name}>[^<]*</{name}>", f"<{name}>{value}</{name}>", text)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


# ---------------------------------------------------------------- install


def road_happy_path(road):
    """Road 1: start, tick, Install, the progress moves, finished page, Start,
    splash, the product runs, the setup ends; the whole funnel arrives."""
    # 2 MB/s per connection: the download lasts long enough to be watched.
    road.mode("files-faults", "rate=2000000")
    setup = road.start_setup()
    road.wait_page("setting")
    road.expect(road.control("install_btn")["text"] == "Install", "the window speaks the system's English")
    road.shot("setting-page")
    road.click_link("license_link", what="opened the licence")
    road.wait(lambda: road.control("license_text"), 10, "the licence text")
    road.shot("licence-open")
    road.click_link("license_link", what="closed the licence")
    tick_and_install(road)
    road.wait_page("running")
    # The bar is watched on a thread of its own, every 20 ms until the
    # finished page: on a loaded machine a screenshot can take seconds, as
    # long as the verification's part of the bar lasts.
    seen = set()
    finished = threading.Event()
    def watch():
        while not finished.is_set():
            c = road.control("install_progress")
            if c:
                seen.add(c["value"])
            time.sleep(0.02)
    watcher = threading.Thread(target=watch, daemon=True)
    watcher.start()
    try:
        road.wait(lambda: any(20 < v < 85 for v in set(seen)), 30, "the download's part of the bar")
        road.shot("running-page")
        road.wait(lambda: road.page() == "finished", 90, "the finished page")
    finally:
        finished.set()
        watcher.join()
    road.step(f"progress values seen: {sorted(seen)[:3]} ... {sorted(seen)[-3:]}")
    road.expect(min(seen) < 85 and any(85 <= v <= 90 for v in seen) and max(seen) > 90,
                "the bar moved through download, verification and install")
    road.shot("finished-page")
    wait_installed(road, 5)
    road.click("start_app", what="clicked Start")
    splash = road.wait(road.splash, 10, "the launch splash")
    shot = road.shot("splash")
    road.expect(road.splash() is not None, "the splash still shown after its screenshot")
    # The card floats: its rounded corner shows the desktop, not a square.
    left, top = splash["bounds"][0], splash["bounds"][1]
    corner, card = road.pixel(shot, left + 3, top + 3), road.pixel(shot, left + 160, top + 24)
    road.expect(card == (255, 255, 255) and corner not in (None, (255, 255, 255)),
                f"the splash's corner is transparent (corner {corner}, card {card})")
    road.wait(road.product_pid, 30, "the product to start")
    road.step(f"product started (pid {road.product_pid()})")
    road.wait_exit(setup, 30)
    road.expect(close_code(road) == "close07", f"close07 after Start ({close_code(road)})")
    road.wait(lambda: len(funnel_steps(road)) >= len(FUNNEL), 20, "the whole funnel")
    steps = funnel_steps(road)
    road.expect(steps == FUNNEL, f"funnel steps in order: {steps}")
    road.expect("/LANG=en" in installer_args(road), "the installer got the window's language")
    # Under Wine the key lives in Wine's registry, which the sample
    # installer's own tests read back there.
    if not road.windows_build:
        road.expect("Inno Setup: Language" in registry_values(road), "uninstall key with its language written")


def road_choices(road):
    """Roads 2, 3 and 4 in one session: change the language in the combo (the
    window switches live), type another install path, press Install without
    the licence ticked (kind 14): Disagree stays, Agree installs, with that
    language's /LANG= and into the typed folder."""
    setup = road.start_setup()
    road.wait_page("setting")
    road.click("install_setting", what="opened the settings")
    road.wait(lambda: road.control("language_combox"), 10, "the language combo")
    before = road.control("install_btn")["text"]
    road.click_row("language_combox", GERMAN, what="chose German in the combo")
    road.wait(lambda: road.control("install_btn")["text"] != before, 10, "the window to switch language")
    road.step(f"install button now reads {road.control('install_btn')['text']!r}")
    road.expect(road.control("language_combox")["selection"] == GERMAN, "German is the chosen language")
    target = os.path.join(road.root, "typed place", "Orlastra")
    # Windows' setup shows and takes its folders with backslashes, typed
    # as a person there types them.
    typed = driver.windows_path(target) if road.windows_build else target
    road.type_into("install_file_path_edit", typed)
    road.wait(lambda: road.control("install_file_path_edit")["text"] == typed, 10, "the typed path")
    road.shot("choices-made")
    road.click("install_btn", what="clicked Install with the licence box unticked")
    road.wait_box(14)
    road.shot("licence-question")
    road.click_box("btn_no", what="Disagree")
    road.expect(road.page() == "setting", "Disagree leaves the window on the setting page")
    road.click("install_btn", what="clicked Install again")
    road.wait_box(14)
    road.click_box("btn_yes", what="Agree")
    road.wait_page("running")
    wait_finished(road)
    installed = os.path.join(target, "Orlastra.exe")
    road.expect(os.path.exists(installed), f"the product landed in the typed folder ({installed})")
    args = installer_args(road)
    road.expect("/LANG=de" in args, f"the installer got /LANG=de ({args.strip()[:120]})")
    road.shot("finished-german")
    close_window(road, setup)
    road.wait_exit(setup, 20)
    road.expect(close_code(road) == "close06", f"close06 on the finished page ({close_code(road)})")


def road_automated(road):
    """Road 12: AutoRun=1 runs the whole install unattended and restarts
    itself; the test stops it after the second start."""
    first = road.start_setup()
    wait_installed(road, 90)
    road.wait(lambda: len(road.log_files()) >= 2 or first.poll() is not None, 60, "the restart")
    road.wait(lambda: len(road.log_files()) >= 2, 30, "the second start's log")
    # The newest start, by the start time its log's name holds: the first
    # setup may still be writing its own.
    second_log = sorted(road.log_files(), key=os.path.basename)[-1]
    road.step(f"second start logged: {os.path.basename(second_log)}")
    road.expect(road.installed_exe() is not None, "installed without a click")
    # The restarted setup is not the test's child: it is stopped by the pid
    # its log names.
    road.wait(lambda: re.search(r", pid (\d+),", open(second_log, errors="replace").read()), 20,
              "the second start's pid")
    pid = int(re.search(r", pid (\d+),", open(second_log, errors="replace").read()).group(1))
    road.expect(pid != first.pid, f"the second start is another process (pid {pid})")
    os.kill(pid, signal.SIGTERM)
    road.wait(lambda: not os.path.exists(f"/proc/{pid}") or "zombie" in open(f"/proc/{pid}/status").read().lower(),
              20, "the second start to stop")
    road.step(f"stopped the second start (pid {pid})")


def road_second_instance(road):
    """Road 10: a second start while the first runs brings the first to the
    front and exits."""
    first = road.start_setup()
    road.wait_page("setting")
    second = road.start_setup()
    code = road.wait_exit(second, 20)
    road.expect(first.poll() is None, f"the first setup still runs; the second ended ({code})")
    road.expect(len([w for w in road.windows() if driver.MAIN_CLASS_CONTROL in w["controls"]]) == 1,
                "one setup window")
    close_window(road, first)
    road.wait_exit(first, 20)
    road.expect(close_code(road) == "close01", "close01 before Install")


def press_escape(road, setup):
    """Escape asks to close as a window manager's close button does (the
    running page has no close button of its own)."""
    wid = road.wait(lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(setup.pid)],
                                           env={**os.environ, "DISPLAY": road.display}, capture_output=True,
                                           text=True).stdout.split(), 10, "the setup's X window")[0]
    road.xdotool("windowfocus", "--sync", wid)
    road.xdotool("key", "Escape")
    road.step("pressed Escape")


def uploads(road):
    return [r for r in road.journal() if r["path"].endswith("/v1/productLogUpload")]


def road_close_phases(road):
    """Road 9: closing while downloading asks first (No goes on, Yes closes
    with close02); closing while installing, with Downloader_config 2,
    gives close03 and a close report that reaches the log collection; Start
    then closing gives close07 (the happy path ends that way)."""
    write_scenario(road, Downloader_config=2)
    # Slow enough (about 25 s for the 20 MB) that the question, a
    # screenshot and the question again fit in the download on a loaded
    # machine; the road cancels it long before its end.
    road.mode("files-faults", "rate=200000")
    setup = road.start_setup()
    road.wait_page("setting")
    tick_and_install(road)
    road.wait(lambda: 0 < (road.control("install_progress") or {}).get("value", 0) < 85, 30, "the download")
    press_escape(road, setup)
    road.wait_box(2, 10)
    road.shot("cancel-question")
    road.click_box("btn_no", what="No: go on")
    road.expect(setup.poll() is None and road.page() == "running", "No keeps the download running")
    press_escape(road, setup)
    road.wait(lambda: road.log_text().count(" ShowMsgBox: 2") >= 2 and road.message_box(), 10,
              "the question again")
    road.click_box("btn_yes", what="Yes: cancel")
    road.wait_exit(setup, 20)
    road.expect(close_code(road) == "close02", f"close02 while downloading ({close_code(road)})")
    road.wait(lambda: uploads(road), 30, "the close report of the download")
    road.step(f"close report received: {uploads(road)[-1].get('query', '')[:80]}")

    road.mode("files-faults", "")
    slow = road.start_setup(installer_seconds="30")
    road.wait_page("setting")
    tick_and_install(road)
    road.wait(lambda: (road.control("install_progress") or {}).get("value", 0) > 90, 60, "the installer to run")
    # No screenshot on the way: the roads' skin gives the installer 8 s,
    # and a screenshot on a loaded machine may take longer, after which the
    # time-out's box would stand where the question should.
    press_escape(road, slow)
    road.wait_box(2, 10)
    road.click_box("btn_yes", what="Yes: cancel")
    road.wait_exit(slow, 20)
    road.expect(close_code(road) == "close03", f"close03 while installing ({close_code(road)})")
    road.wait(lambda: len(uploads(road)) >= 2, 30, "the close report of the installation")
    form = uploads(road)[-1].get("form", [])
    road.expect(any(p.get("filename", "").endswith(".zip") for p in form),
                f"the report carries the packed log ({[p.get('name') for p in form]})")


def road_crash(road):
    """Road 11: CrashTest=1 crashes on the Install click; the dump is packed
    and uploaded by the second process."""
    write_scenario(road, Downloader_config=1)
    setup = road.start_setup()
    road.wait_page("setting")
    road.click("license_checkbox", what="ticked the licence box")
    road.click("install_btn", what="clicked Install (CrashTest=1)")
    road.wait_exit(setup, 20)
    road.expect(setup.returncode != 0, f"the setup died of the crash ({setup.returncode})")
    road.wait(lambda: uploads(road), 60, "the crash report")
    form = uploads(road)[-1].get("form", [])
    road.step(f"crash report parts: {[(p.get('name'), p.get('filename', ''), p.get('size', '')) for p in form]}")
    saved = [p["saved"] for p in form if p.get("filename", "").endswith(".zip") and p.get("saved")]
    road.expect(saved, "the packed report reached the log collection")
    with zipfile.ZipFile(saved[0]) as z:
        names = z.namelist()
    road.expect(any(n.endswith(".dmp") for n in names) and any(n.endswith(".log") for n in names),
                f"it holds the dump and the log ({names})")


# ----------------------------------------------------------------- faults


def road_download_failure(road):
    """Road 5: the file host answers 404, twelve attempts, kind 8, the retry
    page; the host heals and Try again installs, with Retry labels."""
    road.mode("files-faults", "status=404")
    setup = road.start_setup()
    road.wait_page("setting")
    tick_and_install(road)
    road.wait_box(8, 120)
    rounds = re.findall(r"round begin, current = (\d+), total = (\d+)", road.log_text())
    refused = [r for r in road.file_requests() if r["status"] == 404]
    road.step(f"file requests answered 404: {len(refused)}")
    road.expect([int(c) for c, _ in rounds] == list(range(1, 13)) and all(t == "12" for _, t in rounds),
                f"twelve attempts ({len(rounds)})")
    road.shot("download-failed")
    road.click_box("btn_yes", what="confirmed the failure")
    road.wait(lambda: road.control("text_fail_retry"), 10, "the retry page")
    road.shot("retry-page")
    road.mode("files-faults", "")
    road.step("the file host is healed")
    road.click("start_app", what=f"clicked {road.control('start_app')['text']!r}")
    road.wait_page("running")
    wait_finished(road)
    wait_installed(road, 5)
    retry = [a for _, a, label in road.ga4() if label == "Retry"]
    road.expect(retry, f"events with Retry labels ({retry[:2]})")
    close_window(road, setup)
    road.wait_exit(setup, 20)


def road_resume(road):
    """Road 6: the network drops mid-download, the setup is killed -9 during
    the download, and a new start resumes from the task file."""
    # Every connection is cut after 1 MB: the engine asks again for what is
    # missing, and the bar goes on.
    road.mode("files-faults", "rate=2000000,drop-after=1000000")
    setup = road.start_setup()
    road.wait_page("setting")
    tick_and_install(road)
    road.wait(lambda: (road.control("install_progress") or {}).get("value", 0) >= 20, 60,
              "a quarter of the download")
    road.expect(road.log_has("download fail"), "connections were dropped mid-download")
    road.shot("downloading")
    setup.send_signal(signal.SIGKILL)
    setup.wait()
    road.step("killed the setup with SIGKILL during the download")
    first_bytes = sum(r.get("bytes_sent", 0) for r in road.file_requests())
    road.mode("files-faults", "")
    second = road.start_setup()
    road.wait_page("setting")
    tick_and_install(road)
    road.wait_page("running")
    wait_finished(road)
    total = sum(r.get("bytes_sent", 0) for r in road.file_requests())
    size = os.path.getsize(os.path.join(road.served, "setup_orlastra.exe"))
    road.step(f"bytes before the kill {first_bytes}, after {total - first_bytes}, file {size}")
    road.expect(total - first_bytes <= size - 1000000, "the second start fetched only the rest")
    close_window(road, second)
    road.wait_exit(second, 20)


def road_verification_failure(road):
    """Road 7: a file signed by an unpinned signer: kind 7, the retry page,
    and the installer never ran."""
    write_scenario(road, installer="setup_orlastra_foreign.exe")
    setup = road.start_setup()
    road.wait_page("setting")
    tick_and_install(road)
    road.wait_box(7, 90)
    road.shot("verification-failed")
    road.expect(road.installed_exe() is None and not os.path.exists(road.args_file), "the installer never ran")
    road.click_box("btn_yes", what="confirmed the failure")
    road.wait(lambda: road.control("text_fail_retry"), 10, "the retry page")
    close_window(road, setup)
    road.wait_exit(setup, 20)
    road.expect(close_code(road) == "close05", f"close05 after a failure ({close_code(road)})")


def fail_to_retry_page(road, kind, what, **env):
    """One run that fails with message box `kind`: confirmed, it leaves the
    window on the retry page, which is then closed."""
    setup = road.start_setup(**env)
    road.wait_page("setting")
    tick_and_install(road)
    road.wait_box(kind, 90)
    road.shot(what)
    road.click_box("btn_yes", what=f"confirmed: {what}")
    road.wait(lambda: road.control("text_fail_retry"), 10, "the retry page")
    close_window(road, setup)
    road.wait_exit(setup, 20)


def road_installer_failure(road):
    """Road 8: an installer that fails (exit code 4), then one that outlasts
    the time-out; kind 6 and the retry page each time."""
    fail_to_retry_page(road, 6, "installer-failed", extra={"SAMPLE_INSTALLER_EXIT": "4"})
    road.expect(road.log_has("InstallerExitCode") or "DL032" in str(road.ga4()), "the exit code was reported")
    fail_to_retry_page(road, 6, "installer-timed-out", installer_seconds="60")
    road.expect("DL016" in str(road.ga4()), "the time-out was reported (DL016)")


ROADS = {
    "install": [
        ("happy-path", {}, road_happy_path),
        ("choices", {}, road_choices),
        ("second-instance", {}, road_second_instance),
        ("automated", {"variant": "websetup", "dev_settings": {"AutoRun": 1}}, road_automated),
        ("close-phases", {}, road_close_phases),
        ("crash", {"dev_settings": {"CrashTest": 1}}, road_crash),
    ],
    "faults": [
        ("download-failure", {}, road_download_failure),
        ("resume", {}, road_resume),
        ("verification-failure", {}, road_verification_failure),
        ("installer-failure", {}, road_installer_failure),
    ],
    # websetup.exe of the x86_64 Windows build under Wine (WEBSETUP_WIN_BUILD_DIR),
    # with the Authenticode-signed Windows installer and product.
    "windows": [
        ("win-happy-path", {"windows": True}, road_happy_path),
        ("win-verification-failure", {"windows": True}, road_verification_failure),
        ("win-download-failure", {"windows": True}, road_download_failure),
        ("win-crash", {"windows": True, "dev_settings": {"CrashTest": 1}}, road_crash),
        ("win-choices", {"windows": True}, road_choices),
    ],
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--group", choices=sorted(ROADS), required=True)
    parser.add_argument("--artifacts", default=None)
    parser.add_argument("roads", nargs="*")
    args = parser.parse_args()
    if not driver.BUILD:
        driver.BUILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build")
    driver.BIN = os.path.join(driver.BUILD, "bin")
    driver.SAMPLE = os.path.join(driver.BUILD, "sample-installer")
    artifacts = args.artifacts or os.path.join(driver.BUILD, "e2e")
    return driver.run_roads(ROADS[args.group], artifacts, args.roads)


if __name__ == "__main__":
    sys.exit(main())
