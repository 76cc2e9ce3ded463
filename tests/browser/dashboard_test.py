#!/usr/bin/python3
"""The bench's page in a real browser: headless Chromium, driven through
chromedriver, watching build/dashboard-demo play a run of eight units on a
2 x 4 bench (7 PASS, 1 FAIL).

    dashboard_test.py DEMO_PROGRAM BUILD_DIR

Exits 77 (skipped) when Chromium, its driver or selenium are not installed.
Every wait is on a condition with a generous deadline: a slow machine only
makes it slower, never red.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import WAIT, Browser  # noqa: E402

SLOTS = ["A1", "A2", "A3", "A4", "B1", "B2", "B3", "B4"]


class Demo:
    """build/dashboard-demo, serving at once and playing its run on 'go'."""

    def __init__(self, program, port):
        self.process = subprocess.Popen([program, "--port", str(port), "--pace-ms", "60"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.url = self.process.stdout.readline().strip()
        if not self.url.startswith("http://127.0.0.1:"):
            self.process.kill()
            raise RuntimeError(f"the demo did not start: {self.url!r}")
        self.port = int(self.url.rstrip("/").rsplit(":", 1)[1])

    def play(self):
        self.process.stdin.write("go\n")
        self.process.stdin.flush()

    def kill(self):
        self.process.kill()
        self.process.wait()


def start_demo_on(program, port):
    """The same port again: it is free once the killed demo is gone, but give
    the system a moment if it says otherwise."""
    deadline = time.monotonic() + WAIT
    while True:
        try:
            return Demo(program, port)
        except RuntimeError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.2)


def main():
    program, build_dir = sys.argv[1], sys.argv[2]
    started = time.monotonic()
    timings = []

    def lap(name):
        timings.append((name, time.monotonic() - started))

    browser = Browser()
    demo = None
    try:
        demo = Demo(program, 0)
        lap("browser up")
        driver, wait, text, tile, tile_states = (browser.driver, browser.wait, browser.text, browser.tile,
                                                 browser.tile_states)

        driver.get(demo.url)
        wait.until(lambda d: text("connection") == "live" and len(tile_states()) == len(SLOTS))
        lap("page live")
        assert browser.tile_labels() == SLOTS, browser.tile_labels()
        assert tile_states() == ["empty"] * len(SLOTS), tile_states()
        assert text("bench-name") == "Bench 3"
        assert "9f2c4e1a7b3d" in text("images") and "controller_v1.5.2.bin" in text("images")
        # The map's grid: four to a row, B1 under A1.
        assert tile("A4").location["y"] == tile("A1").location["y"]
        assert tile("B1").location["y"] > tile("A1").location["y"]
        assert tile("B1").location["x"] == tile("A1").location["x"]

        browser.mark_page()
        demo.play()
        wait.until(lambda d: tile("A1").get_attribute("data-state") == "pass")
        lap("first PASS")
        assert "PASS" in tile("A1").find_element("class name", "result").text
        assert "1.4.0" in tile("A1").text and "1.5.2" in tile("A1").text
        wait.until(lambda d: tile("B3").get_attribute("data-state") == "fail")
        failing = tile("B3")
        assert "FAIL" in failing.find_element("class name", "result").text
        assert "checksum mismatch after write" in failing.find_element("class name", "reason").text
        wait.until(lambda d: (text("passed"), text("failed"), text("units-per-hour"), text("yield"))
                   == ("7", "1", "96", "87.5 %"))
        wait.until(lambda d: len(browser.record_rows()) == 8)
        assert tile_states().count("pass") == 7 and tile_states().count("fail") == 1, tile_states()
        assert "set the unit aside" in text("notices")
        assert browser.page_not_reloaded()
        lap("run shown")
        driver.save_screenshot(os.path.join(build_dir, "dashboard.png"))

        port = demo.port
        demo.kill()
        wait.until(lambda d: text("connection") == "disconnected")
        lap("disconnected shown")
        demo = start_demo_on(program, port)
        # The new station's snapshot replaces everything the page showed.
        wait.until(lambda d: text("connection") == "live" and tile_states() == ["empty"] * len(SLOTS)
                   and text("passed") == "0")
        assert len(browser.record_rows()) == 0
        lap("recovered after restart")

        # A tablet held upright: two tiles to a row.
        driver.set_window_size(800, 1280)
        wait.until(lambda d: tile("A3").location["y"] > tile("A1").location["y"])
        assert tile("A2").location["y"] == tile("A1").location["y"]
        demo.play()
        wait.until(lambda d: text("passed") == "7")
        driver.save_screenshot(os.path.join(build_dir, "dashboard-tablet.png"))
        lap("tablet layout")
    finally:
        browser.quit()
        if demo is not None:
            demo.kill()
    for name, seconds in timings:
        print(f"{seconds:7.2f} s  {name}")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
