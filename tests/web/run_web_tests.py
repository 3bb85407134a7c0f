#!/usr/bin/python3
"""The try page (web/) in headless Chromium, driven through chromedriver.

lighttpd runs with the configuration scripts/serve writes, on a free
loopback port, serving the page and BUILD/strixel.cgi. The page is used as
a person would: pick a type, type a text, wait for the image; the image the
page shows is fetched by the page itself and read back with zbarimg. Wrong
input must bring up the program's own error text next to the control that
caused it, and a link with parameters must restore the controls and the
image. Screenshots at desktop and phone width go to OUT for a person.

Usage: run_web_tests.py --build BUILD --out FOLDER
"""

import argparse
import base64
import os
import shutil
import signal
import subprocess
import sys
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "servers"))

import web_servers  # noqa: E402
from run_server_tests import Results  # noqa: E402
from selenium import webdriver  # noqa: E402
from selenium.common.exceptions import TimeoutException  # noqa: E402
from selenium.common.exceptions import WebDriverException  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
    "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--no-proxy-server",
    "--disable-extensions", "--hide-scrollbars", "--mute-audio",
]
# Everything, browser start included, must be over by then.
TIME_LIMIT_SECONDS = 300
WAIT_SECONDS = 20

# The bytes of the image the page shows, as the page itself fetches them.
FETCH_IMAGE = """
const done = arguments[arguments.length - 1];
fetch(document.getElementById("barcode").src)
  .then((r) => r.arrayBuffer())
  .then((b) => {
    let s = "";
    for (const byte of new Uint8Array(b)) s += String.fromCharCode(byte);
    done(btoa(s));
  })
  .catch((e) => done("failed: " + e));
"""


class Page:
    """The try page in one browser, with the waits the checks need."""

    def __init__(self, driver, base):
        self.driver = driver
        self.base = base

    def open(self, query=""):
        self.driver.get(self.base + ("?" + query if query else ""))
        return self.settled()

    def el(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def settled(self, query=None):
        """Waits until the request with this query (or any) has answered;
        returns "image" or "error" ("timeout" when it never did)."""
        def done(driver):
            url = self.el("url").get_attribute("value")
            state = self.el("frame").get_attribute("data-state")
            if query is not None and urllib.parse.urlsplit(url).query != query:
                return False
            return state if state in ("image", "error") else False
        try:
            return WebDriverWait(self.driver, WAIT_SECONDS).until(done)
        except TimeoutException:
            return "timeout"

    def type_text(self, element_id, text):
        field = self.el(element_id)
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(Keys.DELETE)
        field.send_keys(text)

    def image(self):
        img = self.el("barcode")
        return (self.driver.execute_script("return arguments[0].naturalWidth", img),
                self.driver.execute_script("return arguments[0].naturalHeight", img))

    def image_bytes(self):
        encoded = self.driver.execute_async_script(FETCH_IMAGE)
        if encoded.startswith("failed"):
            return b""
        return base64.b64decode(encoded)

    def error_text(self):
        return self.el("error").text if self.el("error").is_displayed() else ""

    def invalid_fields(self):
        return sorted(e.get_attribute("id") for e in
                      self.driver.find_elements(By.CSS_SELECTOR, "[aria-invalid=true]"))


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def zbar_reads(data, path):
    with open(path, "wb") as f:
        f.write(data)
    try:
        done = subprocess.run(["zbarimg", "--quiet", "--raw", path],
                              capture_output=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return ""
    return done.stdout.decode("latin-1").strip()


def check_shown_image(results, page, name, size, text, out):
    """The page shows an image of this size, the size line says so, and the
    bytes the page shows read back as text."""
    data = page.image_bytes()
    results.check(name + ": image of %dx%d" % size,
                  page.image() == size and png_size(data) == size,
                  "shown %r, PNG %r" % (page.image(), png_size(data)))
    results.check(name + ": size shown", page.el("size").text ==
                  "%d \u00d7 %d pixels" % size, page.el("size").text)
    got = zbar_reads(data, os.path.join(out, name.replace(" ", "-") + ".png"))
    results.check(name + ": zbarimg reads " + text, got == text, got)


def check_typing(results, page, out):
    page.open()
    Select(page.el("btype")).select_by_visible_text("EAN-13 (11)")
    page.type_text("data", "590123412345")
    state = page.settled("btype=11&data=590123412345")
    results.check("EAN-13 typed: an image", state == "image", state)
    # 95 modules and a quiet zone of 10 on each side, 2 pixels a module;
    # the default height.
    check_shown_image(results, page, "EAN-13 typed", (230, 200),
                      "5901234123457", out)
    address = urllib.parse.urlsplit(page.driver.current_url).query
    results.check("EAN-13 typed: the address carries the state",
                  address == "btype=11&data=590123412345", address)
    snippet = page.el("snippet").get_attribute("value")
    results.check("EAN-13 typed: the <img> snippet has the request",
                  snippet.startswith('<img src="' + page.base.rsplit("/", 1)[0] +
                                     "/cgi-bin/strixel.cgi?btype=11&amp;data=590123412345\""),
                  snippet)
    for button in page.driver.find_elements(By.CSS_SELECTOR, "button.copy"):
        page.driver.execute_script("arguments[0].textContent = ''",
                                   page.el("copy-status"))
        button.send_keys(Keys.ENTER)
        try:
            WebDriverWait(page.driver, WAIT_SECONDS).until(
                lambda d: page.el("copy-status").text)
        except TimeoutException:
            pass
        results.check("copy button for " + button.get_attribute("data-copy"),
                      page.el("copy-status").text == "Copied.",
                      page.el("copy-status").text)


# Wrong input: (name, the link's query, the request the page makes, what to
# type into which field, the program's error text, the controls blamed).
FAILURES = [
    ("text invalid for EAN-13", "btype=11", "btype=11&data=59012341234X",
     ("data", "59012341234X"), "Error: Invalid barcode text.", ["data"]),
    ("width too small", "btype=11&data=590123412345",
     "btype=11&w=20&data=590123412345", ("w", "20"),
     "Error: Invalid barcode size.", ["w"]),
    ("text invalid for POSTNET", "btype=17&data=12345",
     "btype=17&data=1234X", ("data", "1234X"),
     "Error: Invalid barcode text.", ["data"]),
    ("image too large", "", "xdim=100000", ("xdim", "100000"),
     "Error: Cant initialize PNG creator.", ["xdim"]),
]

# Values the program would not take as typed stay out of the request and
# are marked: (name, the link's query, field, typed value, the request).
NOT_SENT = [
    ("width above 699", "btype=11&data=590123412345", "w", "800",
     "btype=11&data=590123412345"),
    ("module width not whole", "xdim=3&data=ABC", "xdim", "2.5", "data=ABC"),
]


def check_failures(results, page):
    for name, link, request, (field, text), message, blamed in FAILURES:
        page.open(link)
        page.type_text(field, text)
        state = page.settled(request)
        error = page.error_text()
        results.check(name + ": the program's error text",
                      state == "error" and error.startswith(message),
                      "%s: %s" % (state, error))
        results.check(name + ": no image shown",
                      not page.el("barcode").is_displayed())
        results.check(name + ": blames " + ", ".join(blamed),
                      page.invalid_fields() == blamed, page.invalid_fields())


def check_not_sent(results, page):
    for name, link, field, value, request in NOT_SENT:
        page.open(link)
        page.type_text(field, value)
        # The request may be the one before the typing: wait for the mark.
        try:
            WebDriverWait(page.driver, WAIT_SECONDS).until(
                lambda d: page.invalid_fields() == [field])
        except TimeoutException:
            pass
        results.check(name + ": marked", page.invalid_fields() == [field] and
                      page.el(field + "-error").is_displayed(),
                      page.invalid_fields())
        state = page.settled(request)
        sent = urllib.parse.urlsplit(page.el("url").get_attribute("value")).query
        results.check(name + ": not sent, the default drawn",
                      state == "image" and sent == request, (state, sent))


# A link with parameters, and what the controls must show after it.
LINK = ("btype=13&data=12345678901&angle=90&xdim=3&quiet=1&fcolor=00007f"
        "&tdown=0&talign=5")
LINK_CONTROLS = {"btype": "13", "data": "12345678901", "angle": "90",
                 "xdim": "3", "fcolor": "#00007f", "tdown": "0",
                 "talign": "5", "w": "", "h": ""}


def check_link(results, page, out):
    state = page.open(LINK)
    results.check("link: an image", state == "image", state)
    shown = {k: page.el(k).get_attribute("value") for k in LINK_CONTROLS}
    results.check("link: the controls", shown == LINK_CONTROLS, shown)
    results.check("link: quiet zones on", page.el("quiet").is_selected())
    # quiet=1 is the default, so neither the request nor the address has it.
    expected = sorted(p for p in LINK.split("&") if p != "quiet=1")
    address = urllib.parse.urlsplit(page.driver.current_url).query
    request = urllib.parse.urlsplit(page.el("url").get_attribute("value")).query
    results.check("link: only parameters off their default are sent",
                  sorted(address.split("&")) == expected and request == address,
                  (address, request))
    # UPC-A is 95 modules and two quiet zones of 10, 3 pixels a module,
    # turned by 90 degrees: the height is the length, the width 200.
    check_shown_image(results, page, "link UPC-A", (200, 345),
                      "0123456789012", out)


def check_examples(results, page):
    """Every type's example draws an image."""
    page.open()
    select = Select(page.el("btype"))
    for value in [o.get_attribute("value") for o in select.options]:
        select.select_by_value(value)
        page.el("example").click()
        example = page.el("example-text").text
        # Parameters at their default (btype 7, data 1234567) are not sent.
        query = [] if value == "7" else ["btype=" + value]
        if example != "1234567":
            query.append("data=" + urllib.parse.quote(example, safe="-_.!~*'()"))
        state = page.settled("&".join(query))
        results.check("type %s example %s: image" % (value, example),
                      state == "image", state)


def check_keyboard(results, page):
    page.open()
    unlabelled = page.driver.execute_script("""
        return [...document.querySelectorAll("input, select")]
          .filter((e) => e.labels.length === 0).map((e) => e.id);""")
    results.check("every control has a label", unlabelled == [], unlabelled)
    # By keys alone: the next type (UCC/EAN-128 after Code 128), a text of
    # one's own, then back to the type's example.
    page.el("btype").send_keys(Keys.DOWN)
    active = page.driver.switch_to.active_element
    active.send_keys(Keys.TAB, "x")
    state = page.settled("btype=15&data=x")
    results.check("keyboard: next type and a text", state == "image",
                  page.el("url").get_attribute("value"))
    page.driver.switch_to.active_element.send_keys(Keys.TAB, Keys.ENTER)
    state = page.settled("btype=15&data=%3CAI01%3E12345678901231")
    results.check("keyboard: the example button", state == "image",
                  page.el("url").get_attribute("value"))


# Screenshots for a person: (name, width, phone or not, the page's query).
SCREENS = [
    ("desktop", 1280, False, "btype=11&data=590123412345&fcolor=00007f"),
    ("phone", 390, True, "btype=11&data=590123412345&fcolor=00007f"),
    ("phone-error", 390, True, "btype=11&data=59012341234X"),
    ("phone-wide-image", 390, True, "w=600&h=120&data=Strixel128"),
]


def screen(driver, width, height, mobile):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": 1,
        "mobile": mobile})


def check_screens(results, page, out):
    for name, width, mobile, query in SCREENS:
        screen(page.driver, width, 900, mobile)
        page.open(query)
        overflow = page.driver.execute_script(
            "return document.documentElement.scrollWidth - window.innerWidth")
        results.check("%s width: nothing wider than the screen" % name,
                      overflow <= 0, overflow)
        # The whole page in one picture.
        height = page.driver.execute_script(
            "return document.documentElement.scrollHeight")
        screen(page.driver, width, height, mobile)
        path = os.path.join(out, "try-page-%s.png" % name)
        results.check("%s screenshot" % name,
                      page.driver.save_screenshot(path), path)
    page.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def start_browser(out):
    profile = os.path.join(out, "chromium-profile")
    shutil.rmtree(profile, ignore_errors=True)
    os.makedirs(profile)
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + profile,
                                  "--window-size=1280,1100"]:
        options.add_argument(flag)
    service = Service("/usr/bin/chromedriver",
                      log_path=os.path.join(out, "chromedriver.log"))
    driver = webdriver.Chrome(service=service, options=options)
    driver.set_page_load_timeout(WAIT_SECONDS)
    driver.set_script_timeout(WAIT_SECONDS)
    return driver


def start_lighttpd(build, out):
    port = web_servers.free_loopback_port()
    conf = os.path.join(out, "lighttpd.conf")
    env = dict(os.environ, STRIXEL_BUILD_DIR=os.path.abspath(build))
    subprocess.run([os.path.join(ROOT, "scripts", "serve"), "--port", str(port),
                    "--config-only", conf], check=True, env=env, timeout=60)
    log = open(os.path.join(out, "lighttpd.log"), "wb")
    process = subprocess.Popen(["lighttpd", "-D", "-f", conf],
                               stdin=subprocess.DEVNULL, stdout=log,
                               stderr=subprocess.STDOUT)
    log.close()
    try:
        web_servers.wait_for_port(port, process)
    except RuntimeError:
        web_servers.stop_process(process)
        raise
    return process, port


def run(results, build, out):
    server, port = start_lighttpd(build, out)
    driver = None
    try:
        driver = start_browser(out)
        page = Page(driver, "http://127.0.0.1:%d/" % port)
        check_typing(results, page, out)
        check_failures(results, page)
        check_not_sent(results, page)
        check_link(results, page, out)
        check_examples(results, page)
        check_keyboard(results, page)
        check_screens(results, page, out)
    finally:
        if driver is not None:
            driver.quit()
        web_servers.stop_process(server)


def on_time_limit(signum, frame):
    raise TimeoutError("the browser tests took more than %d s" %
                       TIME_LIMIT_SECONDS)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    # A hung browser or server ends the run, and "finally" stops both.
    signal.signal(signal.SIGALRM, on_time_limit)
    signal.signal(signal.SIGTERM, on_time_limit)
    signal.alarm(TIME_LIMIT_SECONDS)

    results = Results()
    try:
        run(results, args.build, out)
    except (RuntimeError, OSError, TimeoutError, WebDriverException,
            subprocess.SubprocessError) as e:
        results.check("browser run", False, str(e))
    signal.alarm(0)
    return results.finish("web")


if __name__ == "__main__":
    sys.exit(main())
