"""What a Strixel CGI request is and what a correct answer to it looks like.

Shared by the robustness suite, the web-server tests and the memory check:
running the program as a CGI process, reading the parameters of a request
text the way the program's parser reads them, and checking a response
(exit code, image response, HTML page) without trusting the program.
"""

import os
import re
import resource
import struct
import subprocess
import time
import zlib

PNG_HEADER = b"Content-type: image/png\n\n"
SVG_HEADER = b"Content-type: image/svg+xml\n\n"
HTML_HEADER = b"Content-type: text/html\n\n"
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
REQUEST_LIMIT = 3600
REQUEST_ERROR_CODES = (0, 1, 3, 4, 5, 6, 14)

ERROR_MESSAGES = {
    1: "Error: Invalid argument.",
    3: "Error: Cant initialize PNG creator.",
    4: "Error: Cant set up a barcode type (symbology)",
    5: "Error: Invalid barcode size.",
    6: "Error: Invalid barcode text.",
    14: "Error: Unknown exception.",
}


def error_page(code):
    """The exact HTML error page written for a failed request with debug."""
    return (
        HTML_HEADER
        + b"<html><head><title>Strixel application</title></head><body>\n"
        + b"<b><font color='#ff0000'>"
        + ERROR_MESSAGES[code].encode()
        + b"</font></b>\n</body></html>\n"
    )


# One request per barcode type that draws an image, with what the
# independent readers report for it (None: the reader does not know the
# symbology). Check characters in the expectations were worked out by hand
# from each standard's check-digit rule.
class TypeCase:
    def __init__(self, btype, name, data, zbar=None, zxing=None, extra=""):
        self.btype = btype
        self.name = name
        self.data = data
        self.zbar = zbar
        self.zxing = zxing
        self.extra = extra

    def query(self):
        q = "btype=%d&data=%s" % (self.btype, url_escape(self.data))
        return q + ("&" + self.extra if self.extra else "")


TYPE_CASES = [
    # Interleaved 2 of 5 pads to an even digit count with a leading zero:
    # 12345670 and its mod-10 check 8.
    TypeCase(0, "Interleaved 2 of 5", "12345670", "0123456708", "0123456708"),
    TypeCase(1, "Industrial 2 of 5", "1234567"),
    # Code 39 mod-43 check of CODE39: 12+24+13+14+3+9 = 75, 75 mod 43 = 32: W.
    TypeCase(2, "Code 39", "CODE39", "CODE39W", "CODE39W"),
    # Read as plain Code 39, lower case letters show as "+" pairs.
    TypeCase(3, "Code 39 Extended", "Code39ext", "C+O+D+E39+E+X+TA",
             "C+O+D+E39+E+X+TA"),
    TypeCase(4, "Code 11", "123-45"),
    TypeCase(5, "Codabar", "A1234567B", "A1234567B", "1234567"),
    TypeCase(6, "MSI", "1234567"),
    TypeCase(7, "Code 128", "Strixel128", "Strixel128", "Strixel128"),
    TypeCase(8, "EAN-2", "12"),
    TypeCase(9, "EAN-5", "12345"),
    TypeCase(10, "EAN-8", "1234567", "12345670", "12345670"),
    TypeCase(11, "EAN-13", "123456789012", "1234567890128", "1234567890128"),
    # GTIN check of 1234567890123 is 1; the 14 digits follow FNC1.
    TypeCase(12, "EAN-14", "1234567890123", "12345678901231",
             "12345678901231"),
    TypeCase(13, "UPC-A", "12345678901", "0123456789012", "123456789012"),
    # 0 12000 00345 compresses to UPC-E 0 123450, check 5.
    TypeCase(14, "UPC-E", "01200000345", "0012000003455", "01234505"),
    TypeCase(15, "UCC/EAN-128", "<AI01>12345678901231", "0112345678901231",
             "0112345678901231"),
    # SSCC-18: AI 00, then 17 digits and their mod-10 check 5.
    TypeCase(16, "SSCC-18", "0012345678901234567", "00123456789012345675",
             "00123456789012345675"),
    TypeCase(19, "Code 93", "CODE93", "CODE93", "CODE93"),
    TypeCase(20, "Code 93 Extended", "Code93ext", "Code93ext", "Code93ext"),
    TypeCase(21, "ITF-14", "1234567890123", "12345678901231",
             "12345678901231"),
]

# The postal types draw like the others, but no reader decodes them: their
# images are checked for being images only.
POSTAL_CASES = [
    (17, "POSTNET", "12345"),
    (18, "PLANET", "12345678901"),
]


def url_escape(text):
    """Escapes every byte but letters and digits as %XX."""
    if isinstance(text, str):
        text = text.encode("latin-1")
    out = []
    for b in text:
        c = chr(b)
        out.append(c if c.isascii() and c.isalnum() else "%%%02X" % b)
    return "".join(out)


# --- The parameter lookup of the request parser, byte for byte ----------


def find_param(text, name):
    """The decoded value of name in the request text, or None.

    Names match in the raw text; the first occurrence wins; an empty value
    that ends the text is not found.
    """
    start = param_value_start(text, name)
    if start is None:
        return None
    end = text.find(b"&", start)
    value = text[start:] if end < 0 else text[start:end]
    return url_decode(value)


def find_int_param(text, name):
    """(value, certain): the int rule over the value of name; value None
    when absent. Not certain when the digits run into an incomplete escape
    at the end of the value, whose decoding the program chooses."""
    start = param_value_start(text, name)
    if start is None:
        return None, True
    end = text.find(b"&", start)
    decoded, complete = url_decode_prefix(text[start:] if end < 0
                                          else text[start:end])
    value, used = atoi_scan(decoded)
    return value, complete or used < len(decoded)


def param_value_start(text, name):
    """Where the value of name starts in the raw text, or None."""
    n = len(name)
    length = len(text)
    if length == 0:
        return None
    if length > n + 1 and text[:n] == name and text[n:n + 1] == b"=":
        return n + 1
    for i in range(1, length):
        if (text[i:i + 1] == b"&" and length - i > n + 2
                and text[i + 1:i + 1 + n] == name
                and text[i + n + 1:i + n + 2] == b"="):
            return i + n + 2
    return None


def hex_digit_value(b):
    if 0x30 <= b <= 0x39:
        return b - 0x30
    if 0x41 <= b <= 0x5A or 0x61 <= b <= 0x7A:
        return (b | 0x20) - 87
    return 0


def url_decode(value):
    decoded, complete = url_decode_prefix(value)
    return decoded if complete else None


def url_decode_prefix(value):
    """(decoded bytes, complete): decoding stops before an incomplete
    escape at the very end, whose result is the program's choice."""
    out = bytearray()
    i = 0
    while i < len(value):
        b = value[i]
        if b == 0x25:  # "%"
            if i + 2 >= len(value):
                return bytes(out), False
            out.append(((hex_digit_value(value[i + 1]) << 4)
                        | hex_digit_value(value[i + 2])) & 0xFF)
            i += 3
        elif b == 0x2B:  # "+"
            out.append(0x20)
            i += 1
        else:
            out.append(b)
            i += 1
    return bytes(out), True


def atoi(value):
    """The int rule: white space, a sign, digits; saturated to 32 bits."""
    if value is None:
        return None
    return atoi_scan(value)[0]


def atoi_scan(value):
    """(the int rule's value, the number of bytes it looked at)."""
    i = 0
    while i < len(value) and value[i] in b" \t\n\v\f\r":
        i += 1
    sign = 1
    if i < len(value) and value[i] in b"+-":
        sign = -1 if value[i] == 0x2D else 1
        i += 1
    n = 0
    while i < len(value) and 0x30 <= value[i] <= 0x39:
        n = min(n * 10 + value[i] - 0x30, 2**31)
        i += 1
    return max(-(2**31), min(2**31 - 1, sign * n)), i


def request_text(case):
    """The request text the program parses, or None when it has none."""
    if case.get("method") is None:
        return None
    method = case["method"].lower()
    if method == "get":
        q = case.get("query")
        return None if q is None else q
    if method == "post":
        cl = case.get("content_length")
        if cl is None:
            return None
        n = atoi(cl.encode("latin-1") if isinstance(cl, str) else cl)
        body = case.get("body", b"")
        if n < 1 or len(body) < n:
            return None
        body = body[:n]
        return body.split(b"\0", 1)[0]
    return None


# --- PNG and response checks -----------------------------------------------


class BadResponse(Exception):
    pass


def png_chunks(png):
    if not png.startswith(PNG_SIGNATURE):
        raise BadResponse("no PNG signature")
    pos = 8
    chunks = []
    while pos < len(png):
        if pos + 12 > len(png):
            raise BadResponse("truncated chunk at %d" % pos)
        (length,) = struct.unpack(">I", png[pos:pos + 4])
        kind = png[pos + 4:pos + 8]
        data = png[pos + 8:pos + 8 + length]
        if len(data) != length or pos + 12 + length > len(png):
            raise BadResponse("truncated %r chunk" % kind)
        (crc,) = struct.unpack(">I", png[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + data) & 0xFFFFFFFF != crc:
            raise BadResponse("bad CRC in %r chunk" % kind)
        chunks.append((kind, data))
        pos += 12 + length
        if kind == b"IEND":
            break
    if pos != len(png):
        raise BadResponse("%d bytes after IEND" % (len(png) - pos))
    return chunks


class Png:
    """A checked 8-bit RGB PNG: its size and its unfiltered-able raster."""

    def __init__(self, png):
        chunks = png_chunks(png)
        kinds = [k for k, _ in chunks]
        if not kinds or kinds[0] != b"IHDR" or kinds[-1] != b"IEND":
            raise BadResponse("chunks out of order: %r" % kinds)
        ihdr = chunks[0][1]
        if len(ihdr) != 13:
            raise BadResponse("IHDR of %d bytes" % len(ihdr))
        (self.width, self.height, depth, colour, compression, filt,
         interlace) = struct.unpack(">IIBBBBB", ihdr)
        if (depth, colour, compression, filt, interlace) != (8, 2, 0, 0, 0):
            raise BadResponse("not 8-bit RGB non-interlaced")
        if self.width == 0 or self.height == 0:
            raise BadResponse("empty image")
        self.texts = [d for k, d in chunks if k == b"tEXt"]
        expected = [b"IHDR", b"gAMA", b"tIME"] + [b"tEXt"] * 5
        idat = [i for i, k in enumerate(kinds) if k == b"IDAT"]
        if kinds[:8] != expected or not idat or kinds[8:-1] != [b"IDAT"] * len(
                idat):
            raise BadResponse("unexpected chunk sequence %r" % kinds)
        try:
            raw = zlib.decompress(b"".join(d for k, d in chunks
                                           if k == b"IDAT"))
        except zlib.error as e:
            raise BadResponse("IDAT does not inflate: %s" % e)
        stride = 1 + 3 * self.width
        if len(raw) != stride * self.height:
            raise BadResponse("raster of %d bytes for %dx%d" %
                              (len(raw), self.width, self.height))
        for y in range(self.height):
            if raw[y * stride] > 4:
                raise BadResponse("row %d has filter %d" % (y, raw[y * stride]))
        self.raster = raw


def parse_image_response(output):
    if not output.startswith(PNG_HEADER):
        raise BadResponse("no image header")
    return Png(output[len(PNG_HEADER):])


SVG_SIZE = re.compile(rb'<svg [^>]*width="(\d+)" height="(\d+)" '
                      rb'viewBox="0 0 (\d+) (\d+)"')


def parse_svg_response(output):
    """(width, height) of a complete SVG response."""
    if not output.startswith(SVG_HEADER):
        raise BadResponse("no SVG header")
    document = output[len(SVG_HEADER):]
    if not document.startswith(b"<?xml ") or \
            not document.endswith(b"</svg>\n"):
        raise BadResponse("incomplete SVG document")
    m = SVG_SIZE.search(document)
    if not m or m.group(1) != m.group(3) or m.group(2) != m.group(4):
        raise BadResponse("SVG size and viewBox do not agree")
    return int(m.group(1)), int(m.group(2))


def wants_svg(text):
    """Whether fmt asks for SVG: its value up to a zero byte is "svg"."""
    value = find_param(text, b"fmt")
    return value is not None and value.split(b"\0")[0] == b"svg"


ALLOWED_ANGLES = (0, 90, 180, 270)


def expected_size(text):
    """(width, height) the image must have; None where it is computed or
    where the request leaves it to the program's choice."""
    w, w_certain = find_int_param(text, b"w")
    h, h_certain = find_int_param(text, b"h")
    angle, angle_certain = find_int_param(text, b"angle")
    if not (w_certain and h_certain and angle_certain):
        return (None, None)
    w = w if w is not None and 1 <= w <= 699 else None
    h = h if h is not None and 1 <= h <= 699 else None
    if angle not in ALLOWED_ANGLES:
        angle = 0
    if angle in (0, 180):
        return (w, h or 200)
    return (w or 200, h)


def check_response(case, code, output, help_page):
    """Raises BadResponse unless (code, output) answers the case correctly."""
    if code not in REQUEST_ERROR_CODES:
        raise BadResponse("exit code %r" % code)
    text = request_text(case)
    if text is None:
        if code not in (1,):
            raise BadResponse("unreadable request gave %d" % code)
        if output:
            raise BadResponse("unreadable request wrote output")
        return
    if len(text) > REQUEST_LIMIT:
        if code != 6 or output:
            raise BadResponse("over-long request: code %d, %d bytes" %
                              (code, len(output)))
        return
    # A value with a zero byte ends there, as the program uses it as a
    # string; only presence matters here.
    has_help = find_param_presence(text, b"help")
    if has_help:
        if code != 0 or output != help_page:
            raise BadResponse("help request: code %d, not the help page" %
                              code)
        return
    has_debug = find_param_presence(text, b"debug")
    if code == 0:
        if wants_svg(text):
            width, height = parse_svg_response(output)
        else:
            png = parse_image_response(output)
            width, height = png.width, png.height
        want_w, want_h = expected_size(text)
        if want_w is not None and width != want_w:
            raise BadResponse("width %d, expected %d" % (width, want_w))
        if want_h is not None and height != want_h:
            raise BadResponse("height %d, expected %d" % (height, want_h))
        return
    if not has_debug:
        if output:
            raise BadResponse("failure %d without debug wrote %d bytes" %
                              (code, len(output)))
        return
    if output != error_page(code):
        raise BadResponse("failure %d with debug: not its error page" % code)


def find_param_presence(text, name):
    """Whether Find returns a value, whatever its decoding."""
    return param_value_start(text, name) is not None


# --- Running the program ---------------------------------------------------


def cgi_environment(case):
    env = {}
    for key, var in (("method", "REQUEST_METHOD"), ("query", "QUERY_STRING"),
                     ("content_length", "CONTENT_LENGTH")):
        value = case.get(key)
        if value is not None:
            env[var] = os.fsdecode(value) if isinstance(value, bytes) else value
    return env


def address_space_limit(limit_bytes):
    def apply():
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        if limit_bytes:
            resource.setrlimit(resource.RLIMIT_AS, (limit_bytes, limit_bytes))
    return apply


class RunResult:
    def __init__(self, code, signal, timed_out, output, errors, seconds):
        self.code = code
        self.signal = signal
        self.timed_out = timed_out
        self.output = output
        self.errors = errors
        self.seconds = seconds


def run_cgi(cgi, case, timeout=10, limit_bytes=512 * 1024 * 1024,
            wrapper=()):
    """Runs one request in a fresh process with exactly its CGI variables."""
    env = cgi_environment(case)
    start = time.monotonic()
    proc = subprocess.Popen(
        list(wrapper) + [cgi], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
        stderr=subprocess.PIPE, env=env,
        preexec_fn=address_space_limit(limit_bytes))
    timed_out = False
    try:
        out, err = proc.communicate(case.get("body", b""), timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
        timed_out = True
    except BrokenPipeError:
        out, err = proc.communicate()
    seconds = time.monotonic() - start
    rc = proc.returncode
    code = rc if rc >= 0 else None
    signal = -rc if rc < 0 else 0
    return RunResult(code, signal, timed_out, out, err, seconds)
