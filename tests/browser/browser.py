"""What the browser tests of the bench's page share: Debian's headless
Chromium driven through chromedriver, the page's elements by their ids, and
the skip (exit 77) when the browser, its driver or selenium are missing."""
import os
import shutil
import struct
import sys
import tempfile

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SKIP = 77
WAIT = 90  # seconds, for any one condition: a slow machine is slower, never red


def skip(reason):
    print(f"SKIPPED: {reason} (scripts/setup.sh installs chromium, chromium-driver and python3-selenium)")
    sys.exit(SKIP)


for path in (CHROMIUM, CHROMEDRIVER):
    if not os.path.exists(path):
        skip(f"{path} is not installed")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    skip("python3-selenium is not installed")


class Browser:
    """A headless Chromium with a profile of its own, 1280 x 800."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="bench-page-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update",
                         "--disable-sync", "--disable-dev-shm-usage", "--window-size=1280,800",
                         f"--user-data-dir={self.profile}"):
            options.add_argument(argument)
        try:
            self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        except Exception:
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        self.wait = WebDriverWait(self.driver, WAIT, poll_frequency=0.1)

    def quit(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)

    def text(self, element_id):
        return self.driver.find_element(By.ID, element_id).text

    def tile(self, slot):
        return self.driver.find_element(By.CSS_SELECTOR, f'.tile[data-slot="{slot}"]')

    def tile_labels(self):
        return [t.get_attribute("data-slot") for t in self.driver.find_elements(By.CSS_SELECTOR, ".tile")]

    def tile_states(self):
        return [t.get_attribute("data-state") for t in self.driver.find_elements(By.CSS_SELECTOR, ".tile")]

    def record_rows(self):
        return self.driver.find_elements(By.CSS_SELECTOR, "#records tr")

    def mark_page(self):
        """Marks the loaded page: the mark is gone if the page is ever reloaded."""
        self.driver.execute_script("window.notReloaded = true;")

    def page_not_reloaded(self):
        return self.driver.execute_script("return window.notReloaded === true;")

    def screenshot(self, path, width, height):
        """The page's visible area at exactly WIDTH x HEIGHT CSS pixels, as a PNG."""
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                    {"width": width, "height": height, "deviceScaleFactor": 1,
                                     "mobile": False})
        self.driver.save_screenshot(path)
        self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def png_size(path):
    """(width, height) from a PNG file's signature and IHDR chunk."""
    with open(path, "rb") as file:
        head = file.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG"
    assert head[12:16] == b"IHDR", f"{path} has no IHDR first"
    return struct.unpack(">II", head[16:24])
