# The shop service's page in a real browser (headless Chromium through
# Selenium) with four simulated machines and a section whose name holds
# HTML: the login, the board updated live while a machine punches, the
# journal's row and its program, an upload, a queued send that reaches the
# machine at its DC1, and the comparison of what the machine punched back.
# Skipped with a message where Chromium cannot start.

import os
import re
import tempfile
import unittest

import server_e2e_test as server
import web_e2e_test as web
from linepeers import SimulatedMachine

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    webdriver = None

HOSTILE = "<img src=x onerror=alert(1)>"
CHROMIUM_ARGS = ["--headless=new", "--no-sandbox", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-quic",
                 "--window-size=1280,860"]


class BrowserTest(unittest.TestCase):
    def setUp(self):
        if webdriver is None:
            self.skipTest("python3-selenium is not installed")
        self.tmp = tempfile.TemporaryDirectory()
        options = webdriver.ChromeOptions()
        for arg in CHROMIUM_ARGS + ["--user-data-dir=" + os.path.join(self.tmp.name, "chromium")]:
            options.add_argument(arg)
        try:
            self.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        except Exception as e:  # noqa: BLE001 - any failure to start is a reason to skip
            self.tmp.cleanup()
            self.skipTest("Chromium cannot start here: %s" % str(e).splitlines()[0])
        self.shop = web.WebShop(self.tmp.name)

    def tearDown(self):
        self.browser.quit()
        self.shop.close()
        self.tmp.cleanup()

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def tile(self, name):
        return self.js("for (const t of document.querySelectorAll('.tile'))"
                       " if (t.querySelector('h2').textContent === arguments[0]) return t.textContent;"
                       " return '';", name)

    def click(self, xpath):
        self.shop.wait_for(lambda: self.browser.find_elements(By.XPATH, xpath), 10, xpath)
        self.browser.find_element(By.XPATH, xpath).click()

    def test_the_board_journal_library_queue_and_compare_in_a_browser(self):
        shop, b = self.shop, self.browser
        for name in ("drill", "grinder", "mill", "lathe"):  # the mill's and lathe's lines come later
            shop.line(name, shop.path(name, "machine-line"))
        for name in ("drill", "grinder"):
            shop.machines[name] = SimulatedMachine(server.MACHINE, shop.path(name), "receive")
        shop.sections[HOSTILE] = {"port": "/dev/null"}
        shop.start()
        b.get("http://127.0.0.1:%d/" % shop.port)
        b.find_element(By.ID, "login-token").send_keys(shop.token + "\n")
        shop.wait_for(lambda: len(b.find_elements(By.CLASS_NAME, "tile")) == 5, 10, "five tiles")
        names = self.js("return [...document.querySelectorAll('.tile h2')].map(h => h.textContent)")
        self.assertEqual(sorted(names), sorted(["drill", "grinder", "mill", "lathe", HOSTILE]))

        # The board follows a punch by itself: the tile says receiving while
        # the machine still punches (8 s of it), listening again once the
        # program is stored.
        program = server.iso_program(2001, 300)
        shop.machines["mill"] = SimulatedMachine(server.MACHINE, shop.path("mill"), "punch",
                                                 shop.put(program, "mill", "O2001.nc"), "--baud", 9600)
        stored = shop.path("mill", "nc", "incoming", "O2001.nc")
        shop.wait_for(lambda: "receiving" in self.tile("mill") or os.path.exists(stored), 30, "the punch")
        self.assertFalse(os.path.exists(stored), "the board showed the punch only once it was over")
        if os.environ.get("FBX_WEB_SCREENSHOT"):
            b.save_screenshot(os.environ["FBX_WEB_SCREENSHOT"])
        shop.wait_for(lambda: os.path.exists(stored) and "listening" in self.tile("mill"), 30, "listening again")
        self.assertEqual(shop.read("mill", "nc", "incoming", "O2001.nc"), program)

        # The journal's row, and the stored program as text with line numbers.
        self.click("//nav/a[text()='Journal']")
        self.click("//tr[td[text()='mill'] and td[text()='stored']]//a[text()='O2001.nc']")
        shop.wait_for(lambda: b.find_element(By.ID, "viewer-text").text, 10, "the program shown")
        lines = b.find_element(By.ID, "viewer-text").text.splitlines()
        self.assertEqual([re.sub(" +", " ", line.strip()) for line in lines[:2]], ["1 %", "2 O2001 (ISO PROGRAM)"])
        self.click("//button[@id='viewer-close']")

        # An upload through the page lands byte-exact; a hostile name stays text.
        original = server.iso_program(3000, 40)
        shop.put(original, "upload", "O3000.nc")
        self.click("//nav/a[text()='Programs']")
        b.find_element(By.XPATH, "//select[@id='library-machine']/option[text()='lathe']").click()
        for name in ("", HOSTILE + ".nc"):
            b.find_element(By.ID, "upload-name").clear()
            b.find_element(By.ID, "upload-file").send_keys(shop.path("upload", "O3000.nc"))
            b.find_element(By.ID, "upload-name").clear()
            b.find_element(By.ID, "upload-name").send_keys(name)
            b.find_element(By.XPATH, "//form[@id='upload-form']/button").click()
            shop.wait_for(lambda: os.path.exists(shop.path("lathe", "nc", name or "O3000.nc")), 10, "the upload")
        self.assertEqual(shop.read("lathe", "nc", "O3000.nc"), original)
        shop.wait_for(lambda: b.find_elements(By.XPATH, "//td[text()='%s.nc']" % HOSTILE), 10, "the name as text")

        # Sent at the machine's next DC1, after the program it punches first.
        self.click("//tr[td[text()='O3000.nc']]//button[text()='Send to machine']")
        shop.wait_for(lambda: "Queued: O3000.nc" in self.tile("lathe"), 5, "the queue on the tile")
        edited = original.replace(b"N150 G01 X15.015 Y-2", b"N150 G01 X15.015 Y-3")
        shop.machines["lathe"] = SimulatedMachine(
            server.MACHINE, shop.path("lathe"), "punch", shop.put(edited, "lathe", "punch.nc"), "--gap", 2,
            "--then-receive", "--start-dc1", "--idle", 5, "--out", shop.path("lathe", "answer.nc"))
        self.assertEqual(shop.machines["lathe"].wait(60), 0, shop.machines["lathe"].stderr())
        self.assertEqual(shop.read("lathe", "answer.nc"), original)
        self.assertEqual(shop.read("lathe", "nc", "incoming", "O3000.nc"), edited)

        # What the operator changed at the machine.
        self.click("//nav/a[text()='Programs']")
        self.click("//tbody[@id='incoming-rows']/tr[td[text()='O3000.nc']]//button[text()='Compare']")
        shop.wait_for(lambda: "became" in b.find_element(By.ID, "compare-summary").text, 10, "the comparison")
        self.assertIn("line 18: N150 G01 X15.015 Y-2 F300 became N150 G01 X15.015 Y-3 F300",
                      b.find_element(By.ID, "compare-summary").text)
        self.assertEqual(self.js("return document.images.length"), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
