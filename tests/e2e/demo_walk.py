#!/usr/bin/env python3
"""The demo without a display: one person's walk through the setup as
shipped, on its own X server, with a screenshot of each page.

    demo_walk.py BUILD_DIR
    demo_walk.py --windows BUILD_DIR WIN_BUILD_DIR

Run by scripts/demo.sh; everything lands under BUILD_DIR/demo (the
Windows build's walk, websetup.exe under Wine: BUILD_DIR/demo-win).
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import driver  # noqa: E402


def main():
    args = [a for a in sys.argv[1:] if a not in ("--windows", "--by-hand")]
    windows = "--windows" in sys.argv[1:]
    by_hand = "--by-hand" in sys.argv[1:]
    build = os.path.abspath(args[0] if args else "build")
    driver.BUILD, driver.BIN = build, os.path.join(build, "bin")
    driver.SAMPLE = os.path.join(build, "sample-installer")
    if windows:
        driver.WIN_BUILD = os.path.abspath(args[1] if len(args) > 1 else "build-win64")
    road = driver.Road("demo-win" if windows else "demo", build, variant="websetup", windows=windows,
                       display=os.environ.get("DISPLAY") if by_hand else None)
    shots = []
    try:
        if by_hand:
            setup = road.start_setup(installer_seconds=os.environ.get("SAMPLE_INSTALLER_SECONDS", "3"))
            print("Click through the setup window; the demo waits until the setup ends.")
            road.wait_exit(setup, 3600)
            return summary(road, shots)
        # 4 MB/s per connection: the running page stays long enough to see
        # the banners slide.
        road.mode("files-faults", "rate=4000000")
        setup = road.start_setup(installer_seconds=os.environ.get("SAMPLE_INSTALLER_SECONDS", "3"))
        road.wait_page("setting")
        shots.append(road.shot("setting-page"))
        road.click_link("license_link", what="opened the licence")
        road.wait(lambda: road.control("license_text"), 10, "the licence")
        shots.append(road.shot("licence-open"))
        road.click_link("license_link", what="closed the licence")
        road.click("install_setting", what="opened the settings")
        road.wait(lambda: road.control("language_combox"), 10, "the settings")
        shots.append(road.shot("settings-open"))
        road.click("install_setting", what="closed the settings")
        road.click("license_checkbox", what="ticked the licence box")
        road.click("install_btn", what="clicked Install")
        road.wait_page("running")
        road.wait(lambda: 30 < (road.control("install_progress") or {}).get("value", 0) < 85, 60, "the download")
        shots.append(road.shot("running-page"))
        road.wait(lambda: (road.control("install_progress") or {}).get("value", 0) > 90, 60, "the installer")
        shots.append(road.shot("installing"))
        road.wait(road.product_pid, 90, "the product to start")
        road.wait(lambda: road.main() is None, 30, "the setup window to close")
        shots.append(road.shot("product-started"))
        road.wait_exit(setup, 60)
    finally:
        road.close()
    return summary(road, shots)


def summary(road, shots):
    print()
    for path in shots:
        print(f"screenshot:      {path}")
    log = (road.log_files() or [""])[-1]
    speed = re.findall(r" Average speed: (.*)", road.log_text())
    print(f"installed to:    {road.installed_exe()}")
    print(f"log file:        {log}")
    print(f"download speed:  {speed[-1].strip() if speed else 'not logged'}")
    print()
    print(f"== what the maker's services received ({road.journal_path})")
    ga4 = road.ga4()
    steps = [a for _, a, _ in ga4 if re.match(r"\d", a)]
    errors = [f"{a} ({l})" for c, a, l in ga4 if a == "FlowError"]
    print(f"funnel steps ({len(steps)}): {', '.join(steps)}")
    print(f"GA4 events ({len(ga4)}): {', '.join(f'{c}/{a}' for c, a, _ in ga4)}")
    print(f"flow errors ({len(errors)}): {', '.join(errors) or 'none'}")
    print(f"funnel records: {len(road.funnel())}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
