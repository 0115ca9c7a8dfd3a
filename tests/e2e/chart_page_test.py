#!/usr/bin/python3
"""The admin listener's chart page in a real browser.

    tests/e2e/chart_page_test.py BUILD_DIR

A real morvane-server on a demo store (made as ./run makes it) with
--admin-listen on a loopback port; Debian's Chromium, headless with a
profile of its own, driven through chromedriver (python3-selenium):

  - /chart/symbols lists the demo's products with their names;
  - the page draws a product's bars: as many candles as the answer of the
    same request, fetched directly from the public port, has records (mode
    4; and mode 6, whose empty bars are records but gaps); /chart/data
    answers byte for byte what the public port answers;
  - a product without data, and a backwards range, show their message,
    never a blank chart;
  - the browser's console shows no error;
  - the public port still sends every path to the extension, with no
    CORS header.

Saves the drawn chart as BUILD_DIR/chart.png. Exit 77 (skipped) when
Chromium, chromedriver or Selenium is not installed.
"""
import http.client
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from demo_store import free_port, make_demo_store  # noqa: E402

LAST_DAY = "2003-07-07"  # a Monday
CLOCK = LAST_DAY + " 17:30:00"
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def log(*a):
    print("chart-page:", *a, file=sys.stderr, flush=True)



def get(port, target):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    c.request("GET", target)
    r = c.getresponse()
    body = r.read()
    c.close()
    return r.status, r.getheaders(), body


def data_records(body):
    return [line for line in body.decode("utf-8", "replace").split("\r\n")
            if line.startswith(("TICK|", "INTERVAL|"))]


def make_store(build, store):
    make_demo_store(build, store, 10, ["--days", "3", "--end", LAST_DAY], env=store_env(store))


def store_env(store):
    return dict(os.environ, MORVANE_LOG=os.path.join(store, "KMDL.log"),
                MORVANE_SYSCONFDIR=os.path.join(store, "etc"),
                MORVANE_ALIASES=os.path.join(store, "aliases.ini"))


def start_server(build, store, admin_port):
    proc = subprocess.Popen(
        [os.path.join(build, "morvane-server"), "--listen", "127.0.0.1:0", "--clock", CLOCK,
         "--admin-listen", "127.0.0.1:%d" % admin_port],
        cwd=store, env=store_env(store), stdout=subprocess.PIPE)
    m = re.search(rb"http://127\.0\.0\.1:(\d+)", proc.stdout.readline())
    admin = proc.stdout.readline()
    if not m or b"admin pages on" not in admin:
        proc.kill()
        raise SystemExit("morvane-server did not start")
    return proc, int(m.group(1))


def browser(profile):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--user-data-dir=" + profile, "--window-size=1400,900",
                "--disable-gpu", "--no-first-run", "--disable-extensions", "--disable-dev-shm-usage"):
        options.add_argument(arg)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")  # Chromium refuses its sandbox to root
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def chart_state(driver, url, seconds=30):
    """Opens `url` and waits for the page to draw or show a message."""
    driver.get(url)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        s = driver.execute_script("return window.morvaneChart || null")
        if s and s["state"] != "loading":
            return s
        time.sleep(0.1)
    raise AssertionError("%s: the page is still loading after %d s" % (url, seconds))


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    build = os.path.abspath(sys.argv[1])
    try:
        import selenium  # noqa: F401
    except ImportError:
        print("python3-selenium is not installed (scripts/bootstrap installs it): skipped")
        return 77
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            print("%s is not installed (scripts/bootstrap installs chromium and chromium-driver): skipped"
                  % path)
            return 77

    work = tempfile.mkdtemp(prefix="morvane-chart-")
    failures = []
    server = driver = None

    def check(ok, what):
        if not ok:
            failures.append(what)

    try:
        store = os.path.join(work, "store")
        make_store(build, store)
        admin = free_port()
        server, public = start_server(build, store, admin)
        driver = browser(os.path.join(work, "profile"))
        base = "http://127.0.0.1:%d/chart" % admin
        status, _, body = get(admin, "/chart/symbols")
        check(status == 200 and "0005\tHSBC HOLDINGS\n" in body.decode(), "/chart/symbols: %d %r" % (status, body[:200]))

        # 1. Candles, as many as the answer's records; the same bytes.
        cases = [("0005", "4", "60", "", "/?symbol=0005&mode=4&interval=60&dateStart=2003/7/3&dateOver=2003/7/7"),
                 ("0005", "6", "300", "09:30-16:00",
                  "/?symbol=0005&mode=6&interval=300&dateStart=2003/7/3&dateOver=2003/7/7"
                  "&timeStart=09:30&timeOver=16:00")]
        for symbol, mode, length, hours, target in cases:
            status, _, body = get(public, target)
            records = data_records(body)
            with_prices = [r for r in records if r.split("|")[4] != "-"]
            check(status == 200 and len(with_prices) > 10, "mode %s: too few records to draw: %d" % (mode, len(records)))
            s = chart_state(driver, "%s?symbol=%s&from=2003-07-03&to=%s&mode=%s&length=%s&hours=%s"
                            % (base, symbol, LAST_DAY, mode, length, hours))
            log("mode %s: %s; %d records, %d with prices" % (mode, s, len(records), len(with_prices)))
            check(s["state"] == "drawn", "mode %s: not drawn: %s" % (mode, s["message"]))
            check(s["bars"] == len(records), "mode %s: %d bars, the answer has %d records"
                  % (mode, s["bars"], len(records)))
            check(s["candles"] == len(with_prices) and s["drawn"] == len(with_prices),
                  "mode %s: %d candles (%d drawn), the answer has %d bars with prices"
                  % (mode, s["candles"], s["drawn"], len(with_prices)))
            through = get(admin, "/chart/data?" + s["request"])
            direct = get(public, "/?" + s["request"])
            check(through[0] == direct[0] == 200 and through[2] == direct[2],
                  "mode %s: /chart/data and the public port answer differently" % mode)
            if mode == "4":
                # The values under the cursor, in the legend.
                from selenium.webdriver.common.action_chains import ActionChains
                ActionChains(driver).move_to_element(driver.find_element("css selector", ".u-over")).perform()
                legend = driver.find_element("css selector", ".u-legend").text
                check(re.search(r"Open:?\s*\d+\.\d\d", legend), "no values under the cursor: %r" % legend)
                driver.save_screenshot(os.path.join(build, "chart.png"))

        # 2. No data, and a backwards range: a message, never a blank chart.
        s = chart_state(driver, base + "?symbol=NODATA&from=2003-07-03&to=%s&mode=4&length=60" % LAST_DAY)
        check(s["state"] == "message" and s["message"].startswith("No data"), "no data: %s" % s)
        check(driver.find_element("id", "message").is_displayed(), "no data: the message is not shown")
        s = chart_state(driver, base + "?symbol=0005&from=%s&to=2003-07-03&mode=4&length=60" % LAST_DAY)
        check(s["state"] == "message" and "backwards" in s["message"], "backwards range: %s" % s)
        log("messages shown")

        # 3. The console stayed clean.
        errors = [e for e in driver.get_log("browser") if e["level"] in ("SEVERE", "ERROR")]
        check(not errors, "console errors: %s" % errors)

        # 4. The public port has no chart: the extension answers /chart, and
        # nothing carries a CORS header.
        status, headers, body = get(public, "/chart")
        names = [k.lower() for k, _ in headers]
        check(status == 200 and not any(n.startswith("access-control-") for n in names),
              "public /chart: %d %s" % (status, headers))
        names = [k.lower() for k, _ in get(admin, "/chart/data?symbol=0005&mode=2")[1]]
        check(not any(n.startswith("access-control-") for n in names), "a CORS header on /chart/data")
    finally:
        if driver is not None:
            driver.quit()
        if server is not None:
            server.send_signal(signal.SIGTERM)
            try:
                check(server.wait(timeout=30) == 0, "morvane-server exited %s" % server.returncode)
            except subprocess.TimeoutExpired:
                server.kill()
                failures.append("morvane-server did not stop")
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    print("chart page: %s" % ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
