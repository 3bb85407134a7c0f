#!/usr/bin/python3
"""The try page (web/) in headless Chromium, driven through chromedriver.

lighttpd runs with the configuration scripts/serve writes, on a free
loopback port, serving the page and BUILD/strixel.cgi. The page is used as
a person would: pick a type, type a text, wait for the image; the image the
page shows is fetched by the page itself and read back with zbarimg. Wrong
input must bring up the program's own error text next to the control that
caused it, and a link with parameters must restore the controls and the
image. A relay in front of lighttpd makes the program slow or unreachable
for the checks of the loading and retry states. Screenshots at desktop and
phone width go to OUT for a person.

Usage: run_web_tests.py --build BUILD --out FOLDER
"""

import argparse
import base64
import http.client
import http.server
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
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
TIME_LIMIT_SECONDS = 420
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


class Checks(Results):
    """The suites' recorder, taking any value as the detail of a failure."""

    def check(self, name, condition, detail=""):
        return Results.check(self, name, condition,
                             detail if isinstance(detail, str) else repr(detail))


class Relay:
    """A loopback relay in front of lighttpd that can make the program's
    answers slow, or fail them as a stopped server does (the connection
    closes with no answer); the page's own files always pass."""

    def __init__(self, port):
        self.delay = 0.0
        self.down = False
        relay = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                if self.path.startswith(web_servers.CGI_PATH):
                    if relay.down:
                        return
                    time.sleep(relay.delay)
                upstream = http.client.HTTPConnection("127.0.0.1", port,
                                                      timeout=WAIT_SECONDS)
                upstream.request("GET", self.path)
                answer = upstream.getresponse()
                body = answer.read()
                upstream.close()
                self.send_response(answer.status)
                for name, value in answer.getheaders():
                    if name.lower() not in ("connection", "content-length",
                                            "transfer-encoding"):
                        self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


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

    def wait(self, condition):
        try:
            return WebDriverWait(self.driver, WAIT_SECONDS).until(
                lambda d: condition())
        except TimeoutException:
            return False

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def shown(self, element_id):
        return self.el(element_id).is_displayed()

    def select(self, element_id, value):
        Select(self.el(element_id)).select_by_value(value)

    def address(self):
        return urllib.parse.urlsplit(self.driver.current_url).query

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
    # Contrast of the focus ring with the white page (3:1 at least).
    ring = page.js("""
        const s = getComputedStyle(document.activeElement);
        const c = s.outlineColor.match(/[0-9.]+/g).slice(0, 3).map(Number);
        const l = (v) => (v /= 255) <= 0.04045 ? v / 12.92 :
          ((v + 0.055) / 1.055) ** 2.4;
        const y = 0.2126 * l(c[0]) + 0.7152 * l(c[1]) + 0.0722 * l(c[2]);
        return [s.outlineStyle, 1.05 / (y + 0.05)];""")
    results.check("keyboard: a focus ring of 3:1 or more on white",
                  ring[0] == "solid" and ring[1] >= 3, ring)
    page.driver.switch_to.active_element.send_keys(Keys.TAB, Keys.ENTER)
    state = page.settled("btype=15&data=%3CAI01%3E12345678901231")
    results.check("keyboard: the example button", state == "image",
                  page.el("url").get_attribute("value"))


# A change of type: (the link, the text typed or None, the type picked, the
# text after it). A text the person typed stays even when it is another
# type's example; the page's own text follows the type.
TYPE_CHANGES = [
    ("", "12345", "2", "12345"),
    ("", None, "2", "CODE39"),
    ("btype=11&data=400638133393", None, "2", "400638133393"),
    ("btype=11&data=590123412345", None, "2", "CODE39"),
    ("btype=9", None, "11", "590123412345"),
]


def check_type_change(results, page):
    for link, typed, btype, after in TYPE_CHANGES:
        page.open(link)
        if typed is not None:
            page.type_text("data", typed)
            page.settled("data=" + typed)
        page.select("btype", btype)
        state = page.settled("btype=%s&data=%s" % (btype, after))
        results.check("type %s after %r, text %r: the text %r" % (
            btype, link, typed, after), state == "image" and
            page.el("data").get_attribute("value") == after,
            (state, page.el("data").get_attribute("value")))


def check_loading(results, page, relay):
    """A slow answer: the old image is only a shade, the page says it is
    loading, and the live region does not say so on every change."""
    page.open("data=ABC")
    relay.delay = 3
    page.type_text("data", "ABCD")
    loading = page.wait(lambda: page.el("frame").get_attribute("data-state")
                        == "loading")
    opacity = float(page.el("barcode").value_of_css_property("opacity"))
    results.check("slow server: the old image shaded while loading",
                  loading and opacity < 0.5 and page.shown("loading"),
                  (loading, opacity))
    live = page.js("return [...document.querySelectorAll('[aria-live]')]"
                   ".map((e) => e.textContent).join(' ')")
    results.check("slow server: loading is not announced",
                  "Loading" not in live, live)
    relay.delay = 0
    state = page.settled("data=ABCD")
    opacity = float(page.el("barcode").value_of_css_property("opacity"))
    results.check("slow server: the new image in full", state == "image" and
                  opacity == 1 and not page.shown("loading"), (state, opacity))


# Asking again once a stopped server is back: (name, what the person does).
RETRIES = [
    ("the Try again button", lambda page: page.el("retry").click()),
    ("Enter in the text", lambda page: page.el("data").send_keys(Keys.ENTER)),
    ("leaving the text", lambda page: page.el("data").send_keys(Keys.TAB)),
]


def check_retry(results, page, relay):
    page.open("data=R0")
    for n, (name, act) in enumerate(RETRIES, 1):
        relay.down = True
        page.type_text("data", "R%d" % n)
        state = page.settled("data=R%d" % n)
        results.check("stopped server: said so, with a retry (%s)" % name,
                      state == "error" and "could not be reached" in
                      page.error_text() and page.shown("retry"),
                      (state, page.error_text()))
        relay.down = False
        act(page)
        state = page.wait(lambda: page.shown("barcode") and page.el(
            "frame").get_attribute("data-state") == "image")
        results.check("server back: asked again by " + name, state,
                      page.el("frame").get_attribute("data-state"))


def check_history(results, page):
    """Back steps through the edits and stays on the page."""
    base = "btype=11&data=590123412345"
    page.open(base)
    page.type_text("w", "300")
    page.el("w").send_keys(Keys.TAB)
    page.settled("btype=11&w=300&data=590123412345")
    page.select("angle", "90")
    page.settled("btype=11&w=300&angle=90&data=590123412345")
    for query, w, angle in (("btype=11&w=300&data=590123412345", "300", "0"),
                            (base, "", "0")):
        page.driver.back()
        state = page.settled(query)
        results.check("Back to %s" % query, state == "image" and
                      page.address() == query and
                      page.el("w").get_attribute("value") == w and
                      page.el("angle").get_attribute("value") == angle,
                      (state, page.address()))
    page.driver.forward()
    state = page.settled("btype=11&w=300&data=590123412345")
    results.check("Forward again", state == "image", page.address())


# Settings readers refuse draw anyway, with a hint beside the field and
# under the image (the rules themselves are tested without a browser):
# (the link, the fields with a hint).
HINTS = [
    ("btype=2&data=CODE39&w2n=1", ["w2n"]),
    ("data=ABC&w2n=1", []),
    ("btype=2&data=CODE39&w2n=4&bred=99&fcolor=dddddd", ["bred", "fcolor", "w2n"]),
]


def check_hints(results, page):
    for link, fields in HINTS:
        state = page.open(link)
        shown = sorted(f for f in ("w2n", "bred", "fcolor")
                       if page.driver.find_elements(By.ID, f + "-warn") and
                       page.shown(f + "-warn"))
        items = len(page.driver.find_elements(By.CSS_SELECTOR, "#hints li"))
        results.check("hint for %s: %s, and the image" % (link, fields),
                      state == "image" and shown == fields and
                      items == len(fields), (state, shown, items))


# Options the type leaves alone are greyed with the reason: (the link, the
# option, greyed or not).
APPLICABILITY = [
    ("btype=11", "w2n", True), ("btype=2", "w2n", False),
    ("btype=2&cchk=0", "schk", True), ("w=300", "xdim", True),
]


def check_applicability(results, page):
    for link, name, greyed in APPLICABILITY:
        page.open(link)
        field = page.js("return document.getElementById(arguments[0])"
                        ".closest('.field').className", name)
        note = page.driver.find_elements(By.ID, name + "-na")
        said = bool(note) and note[0].is_displayed() and \
            note[0].text.startswith("No effect: ")
        results.check("%s with %r: %s" % (name, link, "greyed" if greyed
                                         else "in use"),
                      ("inapplicable" in field) == greyed and said == greyed,
                      (field, said))
    page.open("btype=2")
    disabled = [o.get_attribute("value") for o in
                Select(page.el("talign")).options if not o.is_enabled()]
    results.check("talign 4 to 6 greyed for Code 39", disabled == ["4", "5", "6"],
                  disabled)


def check_request_length(results, page):
    """Near the limit the page counts, and says why it cannot ask for the
    reason instead of showing an HTTP 500."""
    for length, words in ((3595, "cannot ask why"), (3601, "longer than 3600")):
        page.open("btype=2")
        text = "a" * (length - len("btype=2&data="))
        page.js("const d = document.getElementById('data'); d.value = "
                "arguments[0]; d.dispatchEvent(new Event('input'))", text)
        state = page.settled("btype=2&data=" + text)
        counter = page.el("data-length").text
        results.check("request of %d characters: %r and counted" % (length, words),
                      state == "error" and words in page.error_text() and
                      counter.startswith("Request: %d of 3600" % length),
                      (state, page.error_text()[:80], counter[:40]))
    # A 3000-character text: the boxes scroll, the alt text is short.
    page.open()
    page.js("const d = document.getElementById('data'); d.value = "
            "'x'.repeat(3000); d.dispatchEvent(new Event('change'))")
    page.settled("data=" + "x" * 3000)
    heights = [page.el(i).size["height"] for i in ("url", "snippet", "frame")]
    alt = page.el("barcode").get_attribute("alt")
    results.check("a long text: boxes of a few lines, a short alt text",
                  max(heights) <= 400 and len(alt) < 120, (heights, len(alt)))


def check_typed_mistakes(results, page):
    page.open("xdim=3&data=ABC")
    page.type_text("xdim", "abc")
    page.wait(lambda: page.invalid_fields() == ["xdim"])
    state = page.settled("data=ABC")
    results.check("letters in a number field: not sent, said and announced",
                  state == "image" and page.el("xdim-error").text.startswith(
                      "Not sent") and "Not sent" in page.el("announce")
                  .get_attribute("textContent"), page.invalid_fields())
    page.open("btype=11")
    page.type_text("data", "5901234123458")
    state = page.settled("btype=11&data=5901234123458")
    results.check("EAN-13 with a wrong 13th digit: said it is replaced",
                  state == "image" and "13th digit you typed, 8" in
                  page.el("data-typed").text, state)
    page.open()
    page.type_text("data", "")
    state = page.settled("data=&")
    results.check("empty text: enter a text", state == "error" and
                  page.el("data-error").text.startswith("Enter a text"),
                  page.el("data-error").text)
    page.open("data=ABC")
    page.el("url").find_element(By.XPATH, "..").find_element(
        By.TAG_NAME, "button").click()
    page.wait(lambda: page.el("copy-status").text)
    page.type_text("data", "ABCD")
    page.settled("data=ABCD")
    results.check("copied: said until the next edit",
                  page.el("copy-status").text == "", page.el("copy-status").text)


def check_download(results, page, out):
    folder = os.path.join(out, "downloads")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    page.driver.execute_cdp_cmd("Browser.setDownloadBehavior", {
        "behavior": "allow", "downloadPath": folder})
    page.open("btype=11&data=590123412345")
    page.el("download").click()
    name = "ean-13_590123412345.png"
    path = os.path.join(folder, name)
    page.wait(lambda: os.path.exists(path))
    data = open(path, "rb").read() if os.path.exists(path) else b""
    results.check("download: " + name, png_size(data) == (230, 200) and
                  zbar_reads(data, path) == "5901234123457", os.listdir(folder))
    page.select("fmt", "svg")
    state = page.settled("btype=11&fmt=svg&data=590123412345")
    results.check("format SVG: in the URL, the snippet and the file name",
                  state == "image" and "fmt=svg" in page.el("snippet")
                  .get_attribute("value") and page.el("download")
                  .get_attribute("download") == "ean-13_590123412345.svg",
                  page.el("download").get_attribute("download"))
    shown = page.image_bytes()
    results.check("format SVG: the image shown is the SVG, with its size",
                  page.image() == (230, 200) and page.el("size").text ==
                  "230 \u00d7 200 pixels" and b"<svg" in shown[:300],
                  "%r, %r" % (page.image(), page.el("size").text))
    page.el("download").click()
    path = os.path.join(folder, "ean-13_590123412345.svg")
    page.wait(lambda: os.path.exists(path))
    done = subprocess.run(["xmllint", "--noout", "--nonet", path],
                          capture_output=True, timeout=60)
    data = open(path, "rb").read() if os.path.exists(path) else b""
    results.check("download: ean-13_590123412345.svg, a well-formed SVG "
                  "document", done.returncode == 0 and data == shown and
                  b"<svg" in data[:300], done.stderr[-300:])
    page.open("fmt=svg&data=A")
    results.check("format from the address", page.el("fmt")
                  .get_attribute("value") == "svg")


def check_phone_editing(results, page):
    """On a phone the image stays in view, and clear of the field edited."""
    screen(page.driver, 390, 740, True)
    page.open("btype=11&data=590123412345")
    query = "btype=11"
    for name, value in (("xdim", "3"), ("fh", "20"), ("bred", "10")):
        page.type_text(name, value)
        query += "&%s=%s" % (name, value)
        page.settled(query + "&data=590123412345")
        seen = page.js("""
            const img = document.getElementById("barcode").getBoundingClientRect();
            const f = document.getElementById(arguments[0]).getBoundingClientRect();
            const hit = document.elementFromPoint(f.left + 5, f.top + f.height / 2);
            return [img.top >= 0 && img.bottom <= innerHeight,
                    hit && hit.id === arguments[0]];""", name)
        results.check("phone: image and %s in view while editing it" % name,
                      seen == [True, True], seen)
    page.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


# Screenshots for a person: (name, width, phone or not, the page's query,
# what brings the page into the state shown, the whole page or the screen).
def slow_typing(page, relay):
    relay.delay = 6
    page.type_text("data", "5901234123457")
    page.wait(lambda: page.el("frame").get_attribute("data-state") == "loading")


def stopped(page, relay):
    relay.down = True
    page.type_text("data", "5901234123457")
    page.settled("btype=11&fcolor=00007f&data=5901234123457")


def download_focused(page, relay):
    page.el("download").send_keys(Keys.SHIFT, Keys.TAB)
    page.el("fmt").send_keys(Keys.TAB)


def editing_bred(page, relay):
    page.type_text("bred", "30")
    page.settled("btype=11&fcolor=00007f&bred=30&data=590123412345")


SHOWN = "btype=11&data=590123412345&fcolor=00007f"
HINTED = "btype=2&data=CODE39&w2n=1&bred=60&fcolor=dddddd"
SCREENS = [
    ("desktop", 1280, False, SHOWN, None, True),
    ("phone", 390, True, SHOWN, None, True),
    ("phone-error", 390, True, "btype=11&data=59012341234X", None, True),
    ("phone-wide-image", 390, True, "w=600&h=120&data=Strixel128", None, True),
    ("desktop-loading", 1280, False, SHOWN, slow_typing, False),
    ("phone-loading", 390, True, SHOWN, slow_typing, False),
    ("desktop-error-retry", 1280, False, SHOWN, stopped, False),
    ("phone-error-retry", 390, True, SHOWN, stopped, False),
    ("desktop-hint", 1280, False, HINTED, None, True),
    ("phone-hint", 390, True, HINTED, None, True),
    ("desktop-download", 1280, False, SHOWN + "&fmt=svg", download_focused, False),
    ("phone-download", 390, True, SHOWN + "&fmt=svg", download_focused, False),
    ("phone-editing", 390, True, SHOWN, editing_bred, False),
    # The picture in the README (docs/try-page.png).
    ("readme", 900, False, SHOWN, None, False),
]


def screen(driver, width, height, mobile):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": 1,
        "mobile": mobile})


def check_screens(results, page, relay, out):
    for name, width, mobile, query, prepare, whole in SCREENS:
        screen(page.driver, width, 900 if width > 1000 else 740, mobile)
        page.open(query)
        if prepare is not None:
            prepare(page, relay)
        overflow = page.driver.execute_script(
            "return document.documentElement.scrollWidth - window.innerWidth")
        results.check("%s width: nothing wider than the screen" % name,
                      overflow <= 0, overflow)
        if whole:
            height = page.driver.execute_script(
                "return document.documentElement.scrollHeight")
            screen(page.driver, width, height, mobile)
        elif mobile and prepare is not editing_bred:
            # The image at the top of the screen, where it stays.
            page.js("scrollTo(0, document.getElementById('barcode-set')"
                    ".getBoundingClientRect().bottom + scrollY)")
        path = os.path.join(out, "try-page-%s.png" % name)
        results.check("%s screenshot" % name,
                      page.driver.save_screenshot(path), path)
        relay.delay = 0
        relay.down = False
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
    relay = None
    try:
        relay = Relay(port)
        driver = start_browser(out)
        page = Page(driver, "http://127.0.0.1:%d/" % port)
        check_typing(results, page, out)
        check_failures(results, page)
        check_not_sent(results, page)
        check_link(results, page, out)
        check_examples(results, page)
        check_keyboard(results, page)
        check_type_change(results, page)
        check_history(results, page)
        check_hints(results, page)
        check_applicability(results, page)
        check_request_length(results, page)
        check_typed_mistakes(results, page)
        check_download(results, page, out)
        check_phone_editing(results, page)
        # Through the relay, which can slow or stop the program.
        page = Page(driver, "http://127.0.0.1:%d/" % relay.port)
        check_loading(results, page, relay)
        check_retry(results, page, relay)
        check_screens(results, page, relay, out)
    finally:
        if driver is not None:
            driver.quit()
        if relay is not None:
            relay.stop()
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

    results = Checks()
    try:
        run(results, args.build, out)
    except (RuntimeError, OSError, TimeoutError, WebDriverException,
            subprocess.SubprocessError) as e:
        results.check("browser run", False, str(e))
    signal.alarm(0)
    return results.finish("web")


if __name__ == "__main__":
    sys.exit(main())
