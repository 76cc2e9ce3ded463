#!/usr/bin/python3
"""The bench's page of the real station in a real browser, over a simulated
shift: build/sim/quorl-station runs a controller update on each unit that
arrives in the slots of samples/bench-2x4.toml, serves its page, and writes
its log; headless Chromium watches.

    bench_page_test.py SIM_STATION SOURCE_DIR BUILD_DIR

The shift: nine controllers, one in each slot from 4 s on and a second one
in A1 after the first was taken out; the unit in B2 fails its update (its
bootloader refuses the image's check). Exits 77 (skipped) when Chromium, its
driver or selenium are not installed. Every wait is on a condition with a
deadline; the page's own view of each tile is kept from its load on by a
MutationObserver, so that no state it passes through is missed by polling.
"""
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import WAIT, Browser, png_size  # noqa: E402

SLOTS = ["A1", "A2", "A3", "A4", "B1", "B2", "B3", "B4"]  # the map's grid, row by row
FAILING_SLOT = "B2"
SHIFT = """\
at 4    plug controller port 1 serial QC7F0300
at 4    plug controller port 2 serial QC7F0301
at 4.2  plug controller port 3 serial QC7F0302
at 4.2  plug controller port 4 serial QC7F0303
at 4.4  plug controller port 5 serial QC7F0304
at 4.4  plug controller port 6 serial QC7F0305 verify-status=1
at 4.6  plug controller port 7 serial QC7F0306
at 4.6  plug controller port 8 serial QC7F0307
at 6    unplug port 1
at 7    plug controller port 1 serial QC7F0308
"""
# What the shift makes of each slot, from its own lines: the failing unit's
# bootloader refuses the check, and the tool says so.
EXPECTED_PASSED, EXPECTED_FAILED = 8, 1
FAILURE_REASON = "Error updating firmware."
PAGE_LINE = "quorl-station: the bench's page: "

# Each tile's data-state as it changes, from the page's load on; a reload
# would start it over (and drop window.notReloaded).
WATCH_TILES = """
window.tileStory = {};
for (const tile of document.querySelectorAll('.tile')) window.tileStory[tile.dataset.slot] = [tile.dataset.state];
new MutationObserver((mutations) => {
  for (const m of mutations) {
    const slot = m.target.dataset.slot;
    const story = (window.tileStory[slot] = window.tileStory[slot] || []);
    const now = m.target.dataset.state;
    if (story[story.length - 1] !== now) story.push(now);
  }
}).observe(document.getElementById('tiles'),
           {subtree: true, attributes: true, attributeFilter: ['data-state']});
"""


class Station:
    """The simulated station, its page on PORT (0: any), its lines in files."""

    def __init__(self, program, source_dir, folder, name, port, shift=None):
        self.err_path = os.path.join(folder, name + ".err")
        self.log = os.path.join(folder, name + ".jsonl")
        env = dict(os.environ, QUORL_SIM_DEVICES="none")
        if shift is not None:
            env["QUORL_SIM_SHIFT"] = shift
        with open(os.path.join(folder, name + ".out"), "w") as out, open(self.err_path, "w") as err:
            # From the source folder, so that the page names the samples as a
            # person would type them, whatever the checkout's path.
            self.process = subprocess.Popen(
                [program, "--bench", "samples/bench-2x4.toml", "--continuous", "--removal-grace", "0.5",
                 "--dashboard", f"127.0.0.1:{port}", "--log", self.log, "--",
                 "samples/controller_firmware.bin"],
                cwd=source_dir, stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env)
        self.url = self._page_url()

    def errors(self):
        with open(self.err_path) as err:
            return err.read()

    def _page_url(self):
        """Where the station says it serves, as soon as it says it."""
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            for line in self.errors().splitlines():
                if line.startswith(PAGE_LINE):
                    return line[len(PAGE_LINE):].strip()
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        self.kill()
        raise AssertionError(f"the station did not say where it serves:\n{self.errors()}")

    def port(self):
        return int(self.url.rstrip("/").rsplit(":", 1)[1])

    def stop(self):
        """Ctrl+C, as a person at the bench would; the station ends by itself."""
        self.process.send_signal(signal.SIGINT)
        status = self.process.wait(timeout=WAIT)
        assert status == 0, f"status {status}:\n{self.errors()}"

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def refuse_stream_once(port):
    """Serves PORT until the page has asked for its events once, answering 503."""
    asked = threading.Event()

    class Busy(http.server.BaseHTTPRequestHandler):
        def do_GET(self):  # noqa: N802 (the name http.server calls)
            self.send_response(503)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "5")
            self.end_headers()
            self.wfile.write(b"busy\n")
            if self.path == "/events":
                asked.set()

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", port), Busy)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05})
    thread.start()
    try:
        assert asked.wait(WAIT), "the page did not ask for its events again while the station was down"
    finally:
        server.shutdown()
        server.server_close()
        thread.join()


def unit_outcomes(log):
    """The outcome of each unit record in a station's log."""
    with open(log) as file:
        records = [json.loads(line) for line in file if line.strip()]
    return [record["outcome"] for record in records if record.get("kind") == "unit"]


def yield_shown(passed, failed):
    """The yield as the page shows it: percent of judged units, one decimal."""
    return f"{round(1000 * passed / (passed + failed)) / 10:g} %"


def main():
    program, source_dir, build_dir = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
    screenshot = os.path.join(build_dir, "bench-page.png")
    started = time.monotonic()
    timings = []

    def lap(name):
        timings.append((name, time.monotonic() - started))

    folder = tempfile.mkdtemp(prefix="bench-page-")
    shift = os.path.join(folder, "shift.txt")
    with open(shift, "w") as file:
        file.write(SHIFT)
    # The browser first, its first page drawn: the slow part, and the shift
    # starts with the station.
    browser = Browser()
    browser.driver.get("data:text/html,<p>ready</p>")
    lap("browser up")
    station = again = None
    try:
        station = Station(program, source_dir, folder, "shift", 0, shift)
        page, wait, text, tile = browser.driver, browser.wait, browser.text, browser.tile
        page.get(station.url)
        page.execute_script(WATCH_TILES)
        browser.mark_page()
        # 1. The bench before any unit: its eight slots in the map's grid.
        wait.until(lambda d: text("connection") == "live" and len(browser.tile_labels()) == len(SLOTS),
                   "the page never showed the bench live")
        lap("page live")
        assert browser.tile_labels() == SLOTS, browser.tile_labels()
        assert browser.tile_states() == ["empty"] * len(SLOTS), browser.tile_states()
        assert text("bench-name") == "Rehearsal bench"
        assert (text("passed"), text("failed")) == ("0", "0")
        assert tile("A4").location["y"] == tile("A1").location["y"]
        assert tile("B1").location["y"] > tile("A1").location["y"]
        assert tile("B1").location["x"] == tile("A1").location["x"]

        # 2. Units arrive and pass, on the page as loaded.
        wait.until(lambda d: tile("A2").get_attribute("data-state") == "pass", "A2 never showed PASS")
        lap("first PASS")
        # The whole shift shown: A1 with its second unit, every slot judged.
        wait.until(lambda d: (text("passed"), text("failed")) == (str(EXPECTED_PASSED), str(EXPECTED_FAILED))
                   and "QC7F0308" in tile("A1").text and tile("A1").get_attribute("data-state") == "pass",
                   "the whole shift never showed")
        lap("shift shown")
        assert browser.page_not_reloaded(), "the page was reloaded"
        story = page.execute_script("return window.tileStory;")
        # A1's two units, each arrived, run and passed, the slot empty between.
        assert story["A1"] == ["empty", "arrived", "running", "pass", "empty", "arrived", "running", "pass"], story
        for slot in SLOTS[1:]:
            final = "fail" if slot == FAILING_SLOT else "pass"
            assert story[slot] == ["empty", "arrived", "running", final], (slot, story)
            assert f"QC7F030{SLOTS.index(slot)}" in tile(slot).text, (slot, tile(slot).text)

        # 3. The failing unit: FAIL in words, with its reason.
        failing = tile(FAILING_SLOT)
        assert "FAIL" in failing.find_element("class name", "result").text, failing.text
        assert failing.find_element("class name", "reason").text == FAILURE_REASON, failing.text
        for slot in SLOTS:
            if slot != FAILING_SLOT:
                assert "PASS" in tile(slot).find_element("class name", "result").text, (slot, tile(slot).text)
                assert tile(slot).find_element("class name", "reason").text == "", (slot, tile(slot).text)
        wait.until(lambda d: len(browser.record_rows()) == EXPECTED_PASSED + EXPECTED_FAILED,
                   "the latest units never listed every unit")
        browser.screenshot(screenshot, 1280, 800)
        assert png_size(screenshot) == (1280, 800), png_size(screenshot)

        # 5. Stopped: the page says so; the log is whole once the station has ended.
        port = station.port()
        station.stop()
        wait.until(lambda d: text("connection") == "disconnected", "the page never said disconnected")
        lap("disconnected shown")

        # 4. The page's counters are those of the log's unit records.
        outcomes = unit_outcomes(station.log)
        passed, failed = outcomes.count("succeeded"), outcomes.count("failed")
        assert (passed, failed) == (EXPECTED_PASSED, EXPECTED_FAILED), outcomes
        shown = (text("passed"), text("failed"), text("yield"))
        assert shown == (str(passed), str(failed), yield_shown(passed, failed)), shown

        # While it is down, the port answers once with no stream (as a station
        # busy with too many browsers does): the browser gives that stream up
        # for good, and the page must ask again by itself.
        refuse_stream_once(port)
        lap("stream refused once")

        # 5. A station started again on the same port: the page is live again,
        # with that station's bench, on the page as loaded.
        again = Station(program, source_dir, folder, "again", port)
        assert again.port() == port, again.url
        wait.until(lambda d: text("connection") == "live" and browser.tile_states() == ["empty"] * len(SLOTS)
                   and text("passed") == "0" and text("failed") == "0",
                   "the page never showed the restarted station live")
        assert len(browser.record_rows()) == 0
        assert browser.page_not_reloaded(), "the page was reloaded to reconnect"
        lap("live again after restart")
        again.stop()
    except BaseException:
        print(f"the stations' lines and logs: {folder}")
        raise
    finally:
        browser.quit()
        for program_run in (station, again):
            if program_run is not None:
                program_run.kill()
    shutil.rmtree(folder, ignore_errors=True)  # kept when a check failed, for its lines
    for name, seconds in timings:
        print(f"{seconds:7.2f} s  {name}")
    print(f"screenshot: {screenshot}")
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
