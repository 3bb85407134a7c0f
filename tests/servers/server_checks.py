"""What the server suites share: requests over HTTP, the program run
directly for comparison, and the checks every server in front of the
program must pass, whether it runs it as a CGI or as FastCGI.

The test functions here are collected by the modules that import them
(test_servers.py, test_fastcgi.py); each such module has a module-scoped
`server` fixture, parametrized over its servers, which starts one server
on a free loopback port, and an `images` fixture naming the folder the
served images go to.
"""

import http.client
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "robustness"))

from strixel_cgi import (HTML_HEADER, PNG_HEADER, TYPE_CASES,  # noqa: E402
                         Png, error_page, run_cgi)
from web_servers import CGI_PATH  # noqa: E402

# Types also sent by POST, as a form body.
POST_TYPES = (2, 7, 11, 15, 21)

# What a client gets when the program fails without debug and so writes
# nothing at all: (status, content type, a piece of the body).
EMPTY_CGI_ANSWERS = {
    "lighttpd": (500, "text/html", b"<h1>500 Internal Server Error</h1>"),
    "nginx": (502, "text/plain",
              b"An error occurred while reading CGI reply "
              b"(no response received)"),
    "apache": (500, "text/html; charset=iso-8859-1",
               b"<h1>Internal Server Error</h1>"),
    # FastCGI: the request ends with an empty answer.
    "lighttpd-fastcgi": (500, "text/html",
                         b"<h1>500 Internal Server Error</h1>"),
    "nginx-fastcgi": (502, "text/html", b"502 Bad Gateway"),
    "nginx-spawn-fcgi": (502, "text/html", b"502 Bad Gateway"),
    "apache-fcgid": (500, "text/html; charset=iso-8859-1",
                     b"<h1>Internal Server Error</h1>"),
    # A failure reported as success: why README.md advises mod_fcgid.
    "apache-proxy-fcgi": (200, "", b""),
}

# The failing requests of the error-page checks and the exit code each ends
# with when run directly.
FAILING_REQUESTS = [
    ("EAN-13 of letters", "btype=11&data=ABC", 6),
    ("POSTNET of letters", "btype=17&data=12A45", 6),
    ("PLANET in too small a box", "btype=18&data=12345678901&w=100", 5),
    ("no length for an empty text", "data=&quiet=0", 1),
    ("a box too small", "w=20&h=10", 5),
]


def http_request(port, method, path, body=None, header=None):
    """One request on 127.0.0.1:port: the status, the content type, the
    body, and with header also that response header ("" when absent)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    headers = {}
    if body is not None:
        headers["Content-Type"] = "application/x-www-form-urlencoded"
    connection.request(method, path, body=body, headers=headers)
    response = connection.getresponse()
    data = response.read()
    content_type = response.getheader("Content-Type", "")
    extra = response.getheader(header, "") if header else None
    connection.close()
    if header:
        return response.status, content_type, extra, data
    return response.status, content_type, data


def send(port, method, query, debug=False):
    """The query as a GET, or as the body of a POST."""
    if debug:
        query += "&debug=1"
    if method == "GET":
        return http_request(port, "GET", CGI_PATH + "?" + query)
    return http_request(port, "POST", CGI_PATH, query.encode())


_DIRECT = {}


def direct_output(cgi, query, method="GET"):
    """The program run directly on the request (run once per request)."""
    key = (cgi, query, method)
    if key not in _DIRECT:
        if method == "GET":
            case = {"method": "GET", "query": query.encode()}
        else:
            body = query.encode()
            case = {"method": "POST", "body": body,
                    "content_length": str(len(body))}
        _DIRECT[key] = run_cgi(cgi, case)
    return _DIRECT[key]


def drawn_png(direct):
    return Png(direct.output[len(PNG_HEADER):])


def read_barcode(argv):
    try:
        done = subprocess.run(argv, capture_output=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return ""
    return done.stdout.decode("latin-1").strip()


# --- One request of every type ----------------------------------------------

TYPE_REQUESTS = [(case, method) for case in TYPE_CASES
                 for method in ["GET"] + (["POST"] if case.btype in
                                          POST_TYPES else [])]


def type_id(request):
    case, method = request
    return "%s-type%02d-%s" % (method, case.btype,
                               case.name.replace(" ", "-"))


_SERVED = {}


def served_type(server, cgi, images, request):
    """The program's own answer to a type request and the server's: (exit
    code, drawn output, status, content type, body, the saved image's
    path); asked once per server."""
    case, method = request
    key = (server.name, server.port, case.btype, method)
    if key not in _SERVED:
        query = case.query()
        direct = direct_output(cgi, query, method)
        status, ctype, body = send(server.port, method, query)
        path = os.path.join(images, "%s-%s-type%02d.png" %
                            (server.name, method.lower(), case.btype))
        with open(path, "wb") as f:
            f.write(body)
        _SERVED[key] = (direct, status, ctype, body, path)
    return _SERVED[key]


@pytest.mark.parametrize("request_", TYPE_REQUESTS,
                         ids=[type_id(r) for r in TYPE_REQUESTS])
def test_type_answers_200_image_png(server, cgi, images, request_):
    direct, status, ctype, _, _ = served_type(server, cgi, images, request_)
    assert direct.code == 0, "the program itself ends with %r" % direct.code
    assert (status, ctype) == (200, "image/png")


@pytest.mark.parametrize("request_", TYPE_REQUESTS,
                         ids=[type_id(r) for r in TYPE_REQUESTS])
def test_type_png_as_drawn(server, cgi, images, request_):
    direct, _, _, body, _ = served_type(server, cgi, images, request_)
    served, drawn = Png(body), drawn_png(direct)
    assert (served.width, served.height) == (drawn.width, drawn.height)
    assert served.raster == drawn.raster


ZBAR_REQUESTS = [r for r in TYPE_REQUESTS if r[0].zbar is not None]
ZXING_REQUESTS = [r for r in TYPE_REQUESTS if r[0].zxing is not None]


@pytest.mark.parametrize("request_", ZBAR_REQUESTS,
                         ids=[type_id(r) for r in ZBAR_REQUESTS])
def test_type_zbar_reads_the_served_image(server, cgi, images, request_):
    path = served_type(server, cgi, images, request_)[4]
    got = read_barcode(["zbarimg", "--quiet", "--raw", path])
    assert got == request_[0].zbar


@pytest.mark.parametrize("request_", ZXING_REQUESTS,
                         ids=[type_id(r) for r in ZXING_REQUESTS])
def test_type_zxing_reads_the_served_image(server, cgi, images, request_):
    path = served_type(server, cgi, images, request_)[4]
    got = read_barcode(["ZXingReader", "-bytes", path])
    assert got == request_[0].zxing


# --- Pages and failures ------------------------------------------------------

def test_help_page(server, cgi):
    help_direct = direct_output(cgi, "help=1").output
    status, ctype, body = http_request(server.port, "GET",
                                       CGI_PATH + "?help=1")
    assert (status, ctype) == (200, "text/html")
    assert HTML_HEADER + body == help_direct


def test_post_of_a_bare_help_draws_the_default(server):
    # "help" alone is no parameter: the default Code 128 image.
    status, ctype, _ = http_request(server.port, "POST", CGI_PATH, b"help")
    assert (status, ctype) == (200, "image/png")


FAILING_IDS = [label.replace(" ", "-") for label, _, _ in FAILING_REQUESTS]


@pytest.mark.parametrize("failing", FAILING_REQUESTS, ids=FAILING_IDS)
def test_failing_request_fails_directly(cgi, failing):
    _, query, want = failing
    code = direct_output(cgi, query).code
    assert code not in (0, None)
    assert code == want


@pytest.mark.parametrize("failing", FAILING_REQUESTS, ids=FAILING_IDS)
def test_failing_request_with_debug_gets_the_error_page(server, cgi,
                                                        failing):
    _, query, _ = failing
    code = direct_output(cgi, query).code
    status, ctype, body = send(server.port, "GET", query, debug=True)
    assert (status, ctype) == (200, "text/html"), body[:120]
    assert HTML_HEADER + body == error_page(code), body[:120]


@pytest.mark.parametrize("method", ["GET", "POST"])
@pytest.mark.parametrize("failing", FAILING_REQUESTS, ids=FAILING_IDS)
def test_failing_request_without_debug_gets_the_servers_answer(
        server, failing, method):
    want_status, want_type, want_piece = EMPTY_CGI_ANSWERS[server.name]
    status, ctype, body = send(server.port, method, failing[1])
    assert (status, ctype) == (want_status, want_type), body[:120]
    assert want_piece in body, body[:120]


# Failures before the parameters are read write nothing even with debug:
# an over-long request, a short POST body.
def test_over_long_request_gets_the_servers_answer(server):
    want_status, _, want_piece = EMPTY_CGI_ANSWERS[server.name]
    long_query = "debug=1&data=" + "7" * 3600
    status, ctype, body = http_request(server.port, "GET",
                                       CGI_PATH + "?" + long_query)
    assert status == want_status, ctype
    assert want_piece in body, body[:120]


def test_head_gets_the_servers_answer(server):
    want_status = EMPTY_CGI_ANSWERS[server.name][0]
    status, ctype, _ = http_request(server.port, "HEAD",
                                    CGI_PATH + "?data=1")
    assert status == want_status, ctype
