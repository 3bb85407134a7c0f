"""The try page (web/) in headless Chromium, driven through chromedriver.

lighttpd runs with the configuration scripts/serve writes, on a free
loopback port, serving the page and the strixel.cgi given (from its build
folder, built beforehand). The page is used as a person would: pick a
type, type a text, wait for the image; the image the page shows is fetched
by the page itself and read back with zbarimg. Wrong input must bring up
the program's own error text next to the control that caused it, and a
link with parameters must restore the controls and the image. A relay in
front of lighttpd makes the program slow or unreachable for the checks of
the loading and retry states. Screenshots at desktop and phone width go to
OUT for a person.

A scenario that leads to several checks runs once, in a fixture or on its
first test, and each check is a test of its own on what it saw.

Options: --cgi BUILD/strixel.cgi --out FOLDER
"""

import base64
import http.client
import http.server
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
import urllib.parse

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "servers"))

import web_servers  # noqa: E402
from selenium import webdriver  # noqa: E402
from selenium.common.exceptions import TimeoutException  # noqa: E402
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


# --- Fixtures: the server, the relay, the browser ----------------------------

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


class TimeLimit(Exception):
    pass


_OVER_TIME = []


def on_time_limit(signum, frame):
    _OVER_TIME.append(signum)
    raise TimeLimit("the browser tests took more than %d s" %
                    TIME_LIMIT_SECONDS)


@pytest.fixture(scope="module")
def time_limit():
    """A hung browser or server ends the run: the test running when the
    time is up fails, those after it fail at once, and the fixtures' own
    ends stop the browser and the servers."""
    signal.signal(signal.SIGALRM, on_time_limit)
    previous = signal.signal(signal.SIGTERM, on_time_limit)
    signal.alarm(TIME_LIMIT_SECONDS)
    yield
    signal.alarm(0)
    signal.signal(signal.SIGTERM, previous)


@pytest.fixture(autouse=True)
def within_time_limit(time_limit):
    if _OVER_TIME:
        pytest.fail("the browser tests took more than %d s" %
                    TIME_LIMIT_SECONDS)


@pytest.fixture(scope="module")
def lighttpd_port(cgi, out, time_limit):
    """lighttpd as scripts/serve configures it, serving the page and the
    program of cgi's build folder."""
    server, port = start_lighttpd(os.path.dirname(cgi), out)
    yield port
    web_servers.stop_process(server)


@pytest.fixture(scope="module")
def relay(lighttpd_port):
    relay = Relay(lighttpd_port)
    yield relay
    relay.stop()


@pytest.fixture(scope="module")
def driver(out, lighttpd_port):
    driver = start_browser(out)
    yield driver
    driver.quit()


@pytest.fixture(scope="module")
def page(driver, lighttpd_port):
    return Page(driver, "http://127.0.0.1:%d/" % lighttpd_port)


@pytest.fixture(scope="module")
def relayed_page(driver, relay):
    """The page through the relay, which can slow or stop the program."""
    return Page(driver, "http://127.0.0.1:%d/" % relay.port)


_SEEN = {}


def seen(key, scenario, *args):
    """What a scenario saw, run on the first test that asks for it."""
    if key not in _SEEN:
        _SEEN[key] = scenario(*args)
    return _SEEN[key]


def shown_image(page, name, out):
    """The image the page shows: its size and that of its PNG, the size
    line, and what zbarimg reads from the bytes the page shows."""
    data = page.image_bytes()
    return {"image": page.image(), "png": png_size(data),
            "size": page.el("size").text,
            "read": zbar_reads(data, os.path.join(
                out, name.replace(" ", "-") + ".png"))}




# --- Typing a text -----------------------------------------------------------

def read_index(pattern):
    with open(os.path.join(ROOT, "web", "index.html")) as f:
        return re.findall(pattern, f.read())


COPY_BUTTONS = read_index(r'class="copy" data-copy="([a-z-]+)"')


@pytest.fixture(scope="module")
def typing(page, out):
    page.open()
    Select(page.el("btype")).select_by_visible_text("EAN-13 (11)")
    page.type_text("data", "590123412345")
    state = page.settled("btype=11&data=590123412345")
    got = {"state": state,
           "shown": shown_image(page, "EAN-13 typed", out),
           "address": urllib.parse.urlsplit(page.driver.current_url).query,
           "snippet": page.el("snippet").get_attribute("value"),
           "copied": {}}
    for button in page.driver.find_elements(By.CSS_SELECTOR, "button.copy"):
        page.driver.execute_script("arguments[0].textContent = ''",
                                   page.el("copy-status"))
        button.send_keys(Keys.ENTER)
        try:
            WebDriverWait(page.driver, WAIT_SECONDS).until(
                lambda d: page.el("copy-status").text)
        except TimeoutException:
            pass
        got["copied"][button.get_attribute("data-copy")] = \
            page.el("copy-status").text
    return got


def test_ean13_typed_draws_an_image(typing):
    assert typing["state"] == "image"


# 95 modules and a quiet zone of 10 on each side, 2 pixels a module; the
# default height.
EAN13_SIZE = (230, 200)


def test_ean13_typed_an_image_of_its_size(typing):
    shown = typing["shown"]
    assert (shown["image"], shown["png"]) == (EAN13_SIZE, EAN13_SIZE)


def test_ean13_typed_the_size_shown(typing):
    assert typing["shown"]["size"] == "230 \u00d7 200 pixels"


def test_ean13_typed_zbarimg_reads_it_back(typing):
    assert typing["shown"]["read"] == "5901234123457"


def test_ean13_typed_the_address_carries_the_state(typing):
    assert typing["address"] == "btype=11&data=590123412345"


def test_ean13_typed_the_img_snippet_has_the_request(typing, page):
    assert typing["snippet"].startswith(
        '<img src="' + page.base.rsplit("/", 1)[0] +
        '/cgi-bin/strixel.cgi?btype=11&amp;data=590123412345"'), \
        typing["snippet"]


@pytest.mark.parametrize("button", COPY_BUTTONS)
def test_copy_button_says_copied(typing, button):
    assert typing["copied"].get(button) == "Copied.", typing["copied"]


# --- Wrong input -------------------------------------------------------------

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


def failing(page, row):
    name, link, request, (field, text), message, blamed = row
    page.open(link)
    page.type_text(field, text)
    state = page.settled(request)
    return {"state": state, "error": page.error_text(),
            "image": page.el("barcode").is_displayed(),
            "invalid": page.invalid_fields()}


def ids(rows):
    return [row[0].replace(" ", "-") for row in rows]


@pytest.mark.parametrize("row", FAILURES, ids=ids(FAILURES))
def test_wrong_input_brings_the_programs_error_text(page, row):
    got = seen(("failing", row[0]), failing, page, row)
    assert got["state"] == "error", got
    assert got["error"].startswith(row[4]), got


@pytest.mark.parametrize("row", FAILURES, ids=ids(FAILURES))
def test_wrong_input_shows_no_image(page, row):
    got = seen(("failing", row[0]), failing, page, row)
    assert not got["image"]


@pytest.mark.parametrize("row", FAILURES, ids=ids(FAILURES))
def test_wrong_input_blames_the_control(page, row):
    got = seen(("failing", row[0]), failing, page, row)
    assert got["invalid"] == row[5]


# Values the program would not take as typed stay out of the request and
# are marked: (name, the link's query, field, typed value, the request).
NOT_SENT = [
    ("width above 699", "btype=11&data=590123412345", "w", "800",
     "btype=11&data=590123412345"),
    ("module width not whole", "xdim=3&data=ABC", "xdim", "2.5", "data=ABC"),
]


def not_sent(page, row):
    name, link, field, value, request = row
    page.open(link)
    page.type_text(field, value)
    # The request may be the one before the typing: wait for the mark.
    page.wait(lambda: page.invalid_fields() == [field])
    got = {"invalid": page.invalid_fields(),
           "said": page.el(field + "-error").is_displayed()}
    got["state"] = page.settled(request)
    got["sent"] = urllib.parse.urlsplit(
        page.el("url").get_attribute("value")).query
    return got


@pytest.mark.parametrize("row", NOT_SENT, ids=ids(NOT_SENT))
def test_a_value_not_taken_is_marked(page, row):
    got = seen(("not sent", row[0]), not_sent, page, row)
    assert got["invalid"] == [row[2]] and got["said"], got


@pytest.mark.parametrize("row", NOT_SENT, ids=ids(NOT_SENT))
def test_a_value_not_taken_is_not_sent_the_default_drawn(page, row):
    got = seen(("not sent", row[0]), not_sent, page, row)
    assert (got["state"], got["sent"]) == ("image", row[4])


# --- A link ------------------------------------------------------------------

# A link with parameters, and what the controls must show after it.
LINK = ("btype=13&data=12345678901&angle=90&xdim=3&quiet=1&fcolor=00007f"
        "&tdown=0&talign=5")
LINK_CONTROLS = {"btype": "13", "data": "12345678901", "angle": "90",
                 "xdim": "3", "fcolor": "#00007f", "tdown": "0",
                 "talign": "5", "w": "", "h": ""}


@pytest.fixture(scope="module")
def link(page, out):
    state = page.open(LINK)
    return {"state": state,
            "controls": {k: page.el(k).get_attribute("value")
                         for k in LINK_CONTROLS},
            "quiet": page.el("quiet").is_selected(),
            "address": urllib.parse.urlsplit(page.driver.current_url).query,
            "request": urllib.parse.urlsplit(
                page.el("url").get_attribute("value")).query,
            "shown": shown_image(page, "link UPC-A", out)}


def test_link_draws_an_image(link):
    assert link["state"] == "image"


def test_link_restores_the_controls(link):
    assert link["controls"] == LINK_CONTROLS


def test_link_turns_quiet_zones_on(link):
    assert link["quiet"]


def test_link_only_parameters_off_their_default_are_sent(link):
    # quiet=1 is the default, so neither the request nor the address has it.
    expected = sorted(p for p in LINK.split("&") if p != "quiet=1")
    assert sorted(link["address"].split("&")) == expected
    assert link["request"] == link["address"]


# UPC-A is 95 modules and two quiet zones of 10, 3 pixels a module, turned
# by 90 degrees: the height is the length, the width 200.
UPCA_SIZE = (200, 345)


def test_link_an_image_of_its_size(link):
    shown = link["shown"]
    assert (shown["image"], shown["png"]) == (UPCA_SIZE, UPCA_SIZE)


def test_link_the_size_shown(link):
    assert link["shown"]["size"] == "200 \u00d7 345 pixels"


def test_link_zbarimg_reads_it_back(link):
    assert link["shown"]["read"] == "0123456789012"


# --- Every type's example ----------------------------------------------------

TYPES = read_index(r'<option value="(\d+)">[^<]*\(\d+\)</option>')


@pytest.mark.parametrize("btype", TYPES)
def test_the_types_example_draws_an_image(page, btype):
    page.open()
    select = Select(page.el("btype"))
    select.select_by_value(btype)
    page.el("example").click()
    example = page.el("example-text").text
    # Parameters at their default (btype 7, data 1234567) are not sent.
    query = [] if btype == "7" else ["btype=" + btype]
    if example != "1234567":
        query.append("data=" + urllib.parse.quote(example, safe="-_.!~*'()"))
    state = page.settled("&".join(query))
    assert state == "image", example


# --- By keyboard -------------------------------------------------------------

@pytest.fixture(scope="module")
def keyboard(page):
    page.open()
    got = {"unlabelled": page.driver.execute_script("""
        return [...document.querySelectorAll("input, select")]
          .filter((e) => e.labels.length === 0).map((e) => e.id);""")}
    # By keys alone: the next type (UCC/EAN-128 after Code 128), a text of
    # one's own, then back to the type's example.
    page.el("btype").send_keys(Keys.DOWN)
    active = page.driver.switch_to.active_element
    active.send_keys(Keys.TAB, "x")
    got["typed"] = (page.settled("btype=15&data=x"),
                    page.el("url").get_attribute("value"))
    # Contrast of the focus ring with the white page.
    got["ring"] = page.js("""
        const s = getComputedStyle(document.activeElement);
        const c = s.outlineColor.match(/[0-9.]+/g).slice(0, 3).map(Number);
        const l = (v) => (v /= 255) <= 0.04045 ? v / 12.92 :
          ((v + 0.055) / 1.055) ** 2.4;
        const y = 0.2126 * l(c[0]) + 0.7152 * l(c[1]) + 0.0722 * l(c[2]);
        return [s.outlineStyle, 1.05 / (y + 0.05)];""")
    page.driver.switch_to.active_element.send_keys(Keys.TAB, Keys.ENTER)
    got["example"] = (page.settled("btype=15&data=%3CAI01%3E12345678901231"),
                      page.el("url").get_attribute("value"))
    return got


def test_every_control_has_a_label(keyboard):
    assert keyboard["unlabelled"] == []


def test_keyboard_next_type_and_a_text(keyboard):
    assert keyboard["typed"][0] == "image", keyboard["typed"]


def test_keyboard_a_focus_ring_of_3_to_1_or_more_on_white(keyboard):
    style, contrast = keyboard["ring"]
    assert style == "solid" and contrast >= 3, keyboard["ring"]


def test_keyboard_the_example_button(keyboard):
    assert keyboard["example"][0] == "image", keyboard["example"]


# --- A change of type --------------------------------------------------------

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


@pytest.mark.parametrize("link, typed, btype, after", TYPE_CHANGES)
def test_a_change_of_type_keeps_or_follows_the_text(page, link, typed, btype,
                                                    after):
    page.open(link)
    if typed is not None:
        page.type_text("data", typed)
        page.settled("data=" + typed)
    page.select("btype", btype)
    state = page.settled("btype=%s&data=%s" % (btype, after))
    assert (state, page.el("data").get_attribute("value")) == ("image", after)


# --- History -----------------------------------------------------------------

HISTORY_BASE = "btype=11&data=590123412345"
# Back twice: (the address, the w and angle controls after each).
BACKS = [("btype=11&w=300&data=590123412345", "300", "0"),
         (HISTORY_BASE, "", "0")]


@pytest.fixture(scope="module")
def history(page):
    """Back steps through the edits and stays on the page; then Forward."""
    page.open(HISTORY_BASE)
    page.type_text("w", "300")
    page.el("w").send_keys(Keys.TAB)
    page.settled("btype=11&w=300&data=590123412345")
    page.select("angle", "90")
    page.settled("btype=11&w=300&angle=90&data=590123412345")
    backs = []
    for query, _, _ in BACKS:
        page.driver.back()
        state = page.settled(query)
        backs.append((state, page.address(), page.el("w").get_attribute(
            "value"), page.el("angle").get_attribute("value")))
    page.driver.forward()
    forward = (page.settled("btype=11&w=300&data=590123412345"),
               page.address())
    return backs, forward


@pytest.mark.parametrize("n", range(len(BACKS)),
                         ids=["back-to-w=300", "back-to-the-start"])
def test_back_restores_the_address_and_the_controls(history, n):
    query, w, angle = BACKS[n]
    assert history[0][n] == ("image", query, w, angle)


def test_forward_again(history):
    assert history[1][0] == "image", history[1]


# --- Hints and settings without effect ---------------------------------------

# Settings readers refuse draw anyway, with a hint beside the field and
# under the image (the rules themselves are tested without a browser):
# (the link, the fields with a hint).
HINTS = [
    ("btype=2&data=CODE39&w2n=1", ["w2n"]),
    ("data=ABC&w2n=1", []),
    ("btype=2&data=CODE39&w2n=4&bred=99&fcolor=dddddd", ["bred", "fcolor", "w2n"]),
]


@pytest.mark.parametrize("link, fields", HINTS)
def test_hints_beside_the_fields_and_the_image_drawn(page, link, fields):
    state = page.open(link)
    shown = sorted(f for f in ("w2n", "bred", "fcolor")
                   if page.driver.find_elements(By.ID, f + "-warn") and
                   page.shown(f + "-warn"))
    items = len(page.driver.find_elements(By.CSS_SELECTOR, "#hints li"))
    assert (state, shown, items) == ("image", fields, len(fields))


# Options the type leaves alone are greyed with the reason: (the link, the
# option, greyed or not).
APPLICABILITY = [
    ("btype=11", "w2n", True), ("btype=2", "w2n", False),
    ("btype=2&cchk=0", "schk", True), ("w=300", "xdim", True),
]


@pytest.mark.parametrize("link, name, greyed", APPLICABILITY)
def test_options_without_effect_are_greyed_with_the_reason(page, link, name,
                                                           greyed):
    page.open(link)
    field = page.js("return document.getElementById(arguments[0])"
                    ".closest('.field').className", name)
    note = page.driver.find_elements(By.ID, name + "-na")
    said = bool(note) and note[0].is_displayed() and \
        note[0].text.startswith("No effect: ")
    assert ("inapplicable" in field) == greyed, field
    assert said == greyed


def test_talign_4_to_6_greyed_for_code_39(page):
    page.open("btype=2")
    disabled = [o.get_attribute("value") for o in
                Select(page.el("talign")).options if not o.is_enabled()]
    assert disabled == ["4", "5", "6"]


# --- The request's length ----------------------------------------------------

# Near the limit the page counts, and says why it cannot ask for the reason
# instead of showing an HTTP 500: (length, the words said).
REQUEST_LENGTHS = [(3595, "cannot ask why"), (3601, "longer than 3600")]


@pytest.mark.parametrize("length, words", REQUEST_LENGTHS)
def test_a_request_near_the_limit_is_counted_and_said(page, length, words):
    page.open("btype=2")
    text = "a" * (length - len("btype=2&data="))
    page.js("const d = document.getElementById('data'); d.value = "
            "arguments[0]; d.dispatchEvent(new Event('input'))", text)
    state = page.settled("btype=2&data=" + text)
    counter = page.el("data-length").text
    assert state == "error" and words in page.error_text(), \
        (state, page.error_text()[:80])
    assert counter.startswith("Request: %d of 3600" % length), counter[:40]


def test_a_long_text_boxes_of_a_few_lines_a_short_alt_text(page):
    # A 3000-character text: the boxes scroll, the alt text is short.
    page.open()
    page.js("const d = document.getElementById('data'); d.value = "
            "'x'.repeat(3000); d.dispatchEvent(new Event('change'))")
    page.settled("data=" + "x" * 3000)
    heights = [page.el(i).size["height"] for i in ("url", "snippet", "frame")]
    alt = page.el("barcode").get_attribute("alt")
    assert max(heights) <= 400 and len(alt) < 120, (heights, len(alt))


# --- Typed mistakes ----------------------------------------------------------

def test_letters_in_a_number_field_not_sent_said_and_announced(page):
    page.open("xdim=3&data=ABC")
    page.type_text("xdim", "abc")
    page.wait(lambda: page.invalid_fields() == ["xdim"])
    state = page.settled("data=ABC")
    assert state == "image" and page.el("xdim-error").text.startswith(
        "Not sent") and "Not sent" in page.el("announce").get_attribute(
        "textContent"), page.invalid_fields()


def test_ean13_with_a_wrong_13th_digit_said_it_is_replaced(page):
    page.open("btype=11")
    page.type_text("data", "5901234123458")
    state = page.settled("btype=11&data=5901234123458")
    assert state == "image"
    assert "13th digit you typed, 8" in page.el("data-typed").text


def test_an_empty_text_enter_a_text(page):
    page.open()
    page.type_text("data", "")
    state = page.settled("data=&")
    assert state == "error" and page.el("data-error").text.startswith(
        "Enter a text"), page.el("data-error").text


def test_copied_is_said_until_the_next_edit(page):
    page.open("data=ABC")
    page.el("url").find_element(By.XPATH, "..").find_element(
        By.TAG_NAME, "button").click()
    page.wait(lambda: page.el("copy-status").text)
    page.type_text("data", "ABCD")
    page.settled("data=ABCD")
    assert page.el("copy-status").text == ""


# --- Downloads and SVG -------------------------------------------------------

@pytest.fixture(scope="module")
def download(page, out):
    """A PNG downloaded, then the format set to SVG and that downloaded."""
    folder = os.path.join(out, "downloads")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    page.driver.execute_cdp_cmd("Browser.setDownloadBehavior", {
        "behavior": "allow", "downloadPath": folder})
    page.open("btype=11&data=590123412345")
    page.el("download").click()
    path = os.path.join(folder, "ean-13_590123412345.png")
    page.wait(lambda: os.path.exists(path))
    data = open(path, "rb").read() if os.path.exists(path) else b""
    got = {"png": (png_size(data), zbar_reads(data, path) if data else "",
                   os.listdir(folder))}
    page.select("fmt", "svg")
    got["svg state"] = page.settled("btype=11&fmt=svg&data=590123412345")
    got["snippet"] = page.el("snippet").get_attribute("value")
    got["file name"] = page.el("download").get_attribute("download")
    got["shown"] = page.image_bytes()
    got["shown size"] = (page.image(), page.el("size").text)
    page.el("download").click()
    path = os.path.join(folder, "ean-13_590123412345.svg")
    page.wait(lambda: os.path.exists(path))
    done = subprocess.run(["xmllint", "--noout", "--nonet", path],
                          capture_output=True, timeout=60)
    got["svg"] = (done.returncode, done.stderr[-300:],
                  open(path, "rb").read() if os.path.exists(path) else b"")
    return got


def test_download_of_the_png(download):
    size, read, listed = download["png"]
    assert (size, read) == ((230, 200), "5901234123457"), listed


def test_format_svg_in_the_url_the_snippet_and_the_file_name(download):
    assert download["svg state"] == "image"
    assert "fmt=svg" in download["snippet"]
    assert download["file name"] == "ean-13_590123412345.svg"


def test_format_svg_the_image_shown_is_the_svg_with_its_size(download):
    assert download["shown size"] == ((230, 200), "230 \u00d7 200 pixels")
    assert b"<svg" in download["shown"][:300]


def test_download_of_the_svg_a_well_formed_svg_document(download):
    code, errors, data = download["svg"]
    assert code == 0, errors
    assert data == download["shown"] and b"<svg" in data[:300]


def test_format_from_the_address(page):
    page.open("fmt=svg&data=A")
    assert page.el("fmt").get_attribute("value") == "svg"


# --- On a phone --------------------------------------------------------------

PHONE_EDITS = [("xdim", "3"), ("fh", "20"), ("bred", "10")]


@pytest.fixture(scope="module")
def phone_editing(page):
    """On a phone the image stays in view, and clear of the field edited:
    for each field, [image in view, field not covered]."""
    screen(page.driver, 390, 740, True)
    page.open("btype=11&data=590123412345")
    query = "btype=11"
    got = {}
    try:
        for name, value in PHONE_EDITS:
            page.type_text(name, value)
            query += "&%s=%s" % (name, value)
            page.settled(query + "&data=590123412345")
            got[name] = page.js("""
                const img = document.getElementById("barcode")
                  .getBoundingClientRect();
                const f = document.getElementById(arguments[0])
                  .getBoundingClientRect();
                const hit = document.elementFromPoint(f.left + 5,
                                                      f.top + f.height / 2);
                return [img.top >= 0 && img.bottom <= innerHeight,
                        hit && hit.id === arguments[0]];""", name)
    finally:
        page.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride",
                                    {})
    return got


@pytest.mark.parametrize("field", [name for name, _ in PHONE_EDITS])
def test_phone_image_and_field_in_view_while_editing_it(phone_editing,
                                                        field):
    assert phone_editing.get(field) == [True, True]


# --- A slow or stopped server ------------------------------------------------

@pytest.fixture(scope="module")
def loading(relayed_page, relay):
    """A slow answer: the old image is only a shade, the page says it is
    loading, and the live region does not say so on every change."""
    page = relayed_page
    page.open("data=ABC")
    relay.delay = 3
    try:
        page.type_text("data", "ABCD")
        loading = page.wait(lambda: page.el("frame").get_attribute(
            "data-state") == "loading")
        got = {"loading": (loading, float(page.el("barcode")
                                          .value_of_css_property("opacity")),
                           page.shown("loading")),
               "live": page.js("return [...document.querySelectorAll("
                               "'[aria-live]')].map((e) => e.textContent)"
                               ".join(' ')")}
    finally:
        relay.delay = 0
    got["done"] = (page.settled("data=ABCD"),
                   float(page.el("barcode").value_of_css_property("opacity")),
                   page.shown("loading"))
    return got


def test_slow_server_the_old_image_shaded_while_loading(loading):
    waited, opacity, said = loading["loading"]
    assert waited and opacity < 0.5 and said, loading["loading"]


def test_slow_server_loading_is_not_announced(loading):
    assert "Loading" not in loading["live"]


def test_slow_server_the_new_image_in_full(loading):
    assert loading["done"] == ("image", 1.0, False)


# Asking again once a stopped server is back: (name, what the person does).
RETRIES = [
    ("the Try again button", lambda page: page.el("retry").click()),
    ("Enter in the text", lambda page: page.el("data").send_keys(Keys.ENTER)),
    ("leaving the text", lambda page: page.el("data").send_keys(Keys.TAB)),
]


@pytest.fixture(scope="module")
def retries(relayed_page, relay):
    """For each way of asking again: what the page said while the server
    was stopped, and whether an image came once it was back."""
    page = relayed_page
    page.open("data=R0")
    got = []
    try:
        for n, (name, act) in enumerate(RETRIES, 1):
            relay.down = True
            page.type_text("data", "R%d" % n)
            stopped = (page.settled("data=R%d" % n), page.error_text(),
                       page.shown("retry"))
            relay.down = False
            act(page)
            back = page.wait(lambda: page.shown("barcode") and page.el(
                "frame").get_attribute("data-state") == "image")
            got.append((stopped, back,
                        page.el("frame").get_attribute("data-state")))
    finally:
        relay.down = False
    return got


RETRY_IDS = [name.replace(" ", "-") for name, _ in RETRIES]


@pytest.mark.parametrize("n", range(len(RETRIES)), ids=RETRY_IDS)
def test_stopped_server_said_so_with_a_retry(retries, n):
    state, error, retry = retries[n][0]
    assert state == "error" and "could not be reached" in error and retry, \
        (state, error)


@pytest.mark.parametrize("n", range(len(RETRIES)), ids=RETRY_IDS)
def test_server_back_asked_again(retries, n):
    assert retries[n][1], retries[n][2]


# --- Screenshots -------------------------------------------------------------

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


def screenshot(page, relay, out, row):
    """A screenshot to OUT/try-page-NAME.png: how far the page is wider
    than the screen, and whether the screenshot was saved."""
    name, width, mobile, query, prepare, whole = row
    try:
        screen(page.driver, width, 900 if width > 1000 else 740, mobile)
        page.open(query)
        if prepare is not None:
            prepare(page, relay)
        overflow = page.driver.execute_script(
            "return document.documentElement.scrollWidth - window.innerWidth")
        if whole:
            height = page.driver.execute_script(
                "return document.documentElement.scrollHeight")
            screen(page.driver, width, height, mobile)
        elif mobile and prepare is not editing_bred:
            # The image at the top of the screen, where it stays.
            page.js("scrollTo(0, document.getElementById('barcode-set')"
                    ".getBoundingClientRect().bottom + scrollY)")
        path = os.path.join(out, "try-page-%s.png" % name)
        saved = page.driver.save_screenshot(path)
    finally:
        relay.delay = 0
        relay.down = False
        page.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride",
                                    {})
    return overflow, saved


@pytest.mark.parametrize("row", SCREENS, ids=ids(SCREENS))
def test_nothing_wider_than_the_screen(relayed_page, relay, out, row):
    overflow = seen(("screen", row[0]), screenshot, relayed_page, relay, out,
                    row)[0]
    assert overflow <= 0


@pytest.mark.parametrize("row", SCREENS, ids=ids(SCREENS))
def test_screenshot_saved(relayed_page, relay, out, row):
    saved = seen(("screen", row[0]), screenshot, relayed_page, relay, out,
                 row)[1]
    assert saved, "try-page-%s.png" % row[0]
