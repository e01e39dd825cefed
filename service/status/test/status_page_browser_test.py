#!/usr/bin/python3
"""The status page in a real browser (headless Chromium through Selenium) on
the real Brelvane service, run as an unprivileged account when started by
root: the printing job and the queue, a job's details, a job whose title is
markup shows it as text and runs nothing, and the page works with JavaScript
off.

usage: status_page_browser_test.py BIN_DIR [SCREENSHOT.png]

The print control is a stand-in (as in the service's other whole-program
tests): it records the report's title under the job's number at once, then
prints while the file "hold" exists, and fails (exit status 3) a report whose
title ends in "FAIL".
"""
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.chrome.service import Service as ChromeService
from selenium.webdriver.common.by import By

XSS_TITLE = "<script>alert(1)</script><img src=x onerror=alert(2)>"
STAND_IN = r'''#!/usr/bin/env python3
import os, re, sqlite3, sys, time, xml.etree.ElementTree as ET
line = " ".join(sys.argv[1:])
xml = re.search(r"xml=([^;]*)", line).group(1)
xsl = re.search(r"xsl=([^;]*)", line).group(1)
title = ET.parse(xml).findtext("report_info/title") or ""
db = sqlite3.connect(os.environ["KAVELO_REGISTRY_DIR"] + "/jobs.db", timeout=5)
db.execute("UPDATE jobs SET title=? WHERE number=?", (title, int(os.environ["KAVELO_JOB_NUMBER"])))
db.commit()
db.close()
while os.path.exists(os.path.join(os.path.dirname(sys.argv[0]), "hold")):
    time.sleep(0.1)
for path in (xml, xsl):
    os.unlink(path)
sys.exit(3 if title.endswith("FAIL") else 0)
'''

failures = []
profiles = []  # the browsers' fresh profile folders, removed at the end


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        try:
            if condition():
                return True
        except Exception:
            pass
        time.sleep(0.2)
    return False


def http_status(url):
    try:
        with urllib.request.urlopen(url, timeout=5) as answer:
            return answer.status
    except urllib.error.HTTPError as error:
        return error.code
    except OSError:
        return 0


def browser(javascript):
    profile = tempfile.mkdtemp(prefix="kavelo-chromium-")
    profiles.append(profile)
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--no-first-run", "--window-size=1200,1000",
                     "--user-data-dir=" + profile):
        options.add_argument(argument)
    if not javascript:
        options.add_experimental_option(
            "prefs", {"profile.managed_default_content_settings.javascript": 2})
    service = ChromeService(executable_path=shutil.which("chromedriver"))
    return webdriver.Chrome(options=options, service=service)


def no_alert(driver):
    try:
        driver.switch_to.alert
        return False
    except NoAlertPresentException:
        return True


def send(bin_dir, port, world, name, title):
    report = os.path.join(world, name + ".xml")
    escaped = title.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    with open(report, "w") as out:
        out.write('<?xml version="1.0"?><report><report_info><title>%s</title></report_info>'
                  "<detail><line>1</line></detail></report>" % escaped)
    stylesheet = os.path.join(world, "report.xsl")
    with open(stylesheet, "w") as out:
        out.write('<xsl:stylesheet version="1.0" '
                  'xmlns:xsl="http://www.w3.org/1999/XSL/Transform"/>')
    subprocess.run([bin_dir + "/kavelo-send", "--port", str(port), report, stylesheet],
                   check=True, stdout=subprocess.DEVNULL)


def main():
    bin_dir = os.path.abspath(sys.argv[1])
    world = tempfile.mkdtemp(prefix="kavelo-browser-")
    os.chmod(world, 0o755)
    for folder in ("registry", "spool", "printers/TestPrinter"):
        os.makedirs(os.path.join(world, folder))
    with open(os.path.join(world, "printers/default"), "w") as out:
        out.write("TestPrinter")
    stand_in = os.path.join(world, "print-control")
    with open(stand_in, "w") as out:
        out.write(STAND_IN)
    os.chmod(stand_in, 0o755)
    env = dict(os.environ, KAVELO_REGISTRY_DIR=world + "/registry",
               KAVELO_EVENTLOG=world + "/events.jsonl", KAVELO_SPOOLER="dir:" + world + "/printers")
    port, status_port = free_port(), free_port()
    account = "nobody" if os.getuid() == 0 else pwd.getpwuid(os.getuid()).pw_name
    top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__)))))
    subprocess.run([top + "/scripts/register-service.sh", bin_dir + "/kavelo-reg",
                    bin_dir + "/Brelvane", account, str(port), world + "/spool", stand_in],
                   check=True, env=env, stdout=subprocess.DEVNULL)
    subprocess.run([bin_dir + "/kavelo-reg", "add",
                    r"HKLM\SYSTEM\CurrentControlSet\Services\Brelvane\Parameters",
                    "/v", "StatusPort", "/t", "REG_DWORD", "/d", str(status_port), "/f"],
                   check=True, env=env, stdout=subprocess.DEVNULL)
    if os.getuid() == 0:
        subprocess.run(["chown", "-R", "nobody:", world], check=True)
    hold = os.path.join(world, "hold")
    open(hold, "w").close()
    service = subprocess.Popen([bin_dir + "/Brelvane"], env=env)
    drivers = []
    base = "http://127.0.0.1:%d" % status_port
    try:
        check(wait_until(lambda: http_status(base + "/health") == 200), "the service answers /health")
        send(bin_dir, port, world, "ledger", "Quarterly ledger")
        send(bin_dir, port, world, "markup", XSS_TITLE)
        send(bin_dir, port, world, "inventory", "Inventory FAIL")

        driver = browser(javascript=True)
        drivers.append(driver)
        driver.get(base + "/")
        check(wait_until(lambda: (driver.refresh() or True) and "Quarterly ledger" in
                         driver.find_element(By.ID, "printing").text),
              "the printing job is found by its title")
        queue = driver.find_elements(By.CSS_SELECTOR, "#queue tr.job")
        check([row.find_element(By.TAG_NAME, "a").text for row in queue] == ["2", "3"],
              "the two waiting jobs are in the queue in print order")
        driver.find_element(By.CSS_SELECTOR, "#printing tr.job a").click()
        check(driver.find_element(By.ID, "title").text == "Quarterly ledger" and
              driver.find_element(By.ID, "state").text == "printing",
              "the printing job's link leads to its details")

        os.unlink(hold)
        driver.get(base + "/")
        check(wait_until(lambda: (driver.refresh() or True) and
                         XSS_TITLE in driver.find_element(By.ID, "ended").text),
              "the markup title shows as text among the ended jobs")
        check(no_alert(driver), "no script of the title ran (no alert)")
        check(driver.execute_script(
            "return document.querySelectorAll('script, img').length") == 0,
              "the title made no script or image element")
        check(wait_until(lambda: (driver.refresh() or True) and
                         "Inventory FAIL" in driver.find_element(By.ID, "failures").text),
              "the failed job is among the failures with its title")
        check("exit status 3" in driver.find_element(By.ID, "failures").text,
              "the failure's text is shown")
        driver.find_element(By.XPATH, "//table[@id='ended']//a[text()='2']").click()
        check(driver.find_element(By.ID, "title").text == XSS_TITLE and no_alert(driver),
              "the markup job's details show its title as text")

        quiet = browser(javascript=False)
        drivers.append(quiet)
        quiet.get(base + "/")
        quiet.get("data:text/html,<title>off</title><script>document.title='on'</script>")
        check(quiet.title == "off", "the second browser runs no JavaScript")
        quiet.get(base + "/")
        check("Quarterly ledger" in quiet.find_element(By.ID, "ended").text and
              "Inventory FAIL" in quiet.find_element(By.ID, "failures").text,
              "without JavaScript the page shows the ended jobs and failures")
        quiet.find_element(By.XPATH, "//table[@id='failures']//a[text()='3']").click()
        check(quiet.find_element(By.ID, "title").text == "Inventory FAIL",
              "without JavaScript a job's link leads to its details")
        if len(sys.argv) > 2:
            # The documentation's picture: one job printing, one waiting.
            open(hold, "w").close()
            send(bin_dir, port, world, "sales", "Monthly sales by region")
            send(bin_dir, port, world, "stock", "Stock levels")
            wait_until(lambda: (quiet.get(base + "/") or True) and
                       "Monthly sales" in quiet.find_element(By.ID, "printing").text)
            quiet.save_screenshot(sys.argv[2])
            os.unlink(hold)
    finally:
        for driver in drivers:
            driver.quit()
        service.send_signal(signal.SIGTERM)
        try:
            service.wait(30)
        except subprocess.TimeoutExpired:
            service.kill()
        for folder in [world] + profiles:
            shutil.rmtree(folder, ignore_errors=True)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
