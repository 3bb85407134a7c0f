"""Seeded generator of hostile and odd CGI requests.

generate(seed, count) always gives the same list for the same arguments.
Each request is a dict: method, query, content_length (None: the variable
is unset), body (bytes) and a label naming how it was made.
"""

import random

from strixel_cgi import REQUEST_LIMIT, TYPE_CASES, url_escape

INT_PARAMS = ["w", "h", "btype", "angle", "balign", "talign", "c128", "fh",
              "bred", "xdim"]
BOOL_PARAMS = ["quiet", "guard", "text", "tdown", "stst", "schk", "cchk",
               "ntxt"]
REAL_PARAMS = ["w2n"]
COLOUR_PARAMS = ["bcolor", "fcolor", "tcolor"]
NUMERIC_PARAMS = INT_PARAMS + BOOL_PARAMS + REAL_PARAMS

# Numbers that break naive conversions: beyond 32 and 64 bits, reals that
# overflow an int, special values, signs, white space, hexadecimal.
HOSTILE_NUMBERS = [
    "99999999999", "-99999999999", "2147483647", "2147483648", "-2147483648",
    "-2147483649", "4294967296", "9223372036854775808", "1e308", "-1e308",
    "1e309", "1e-308", "4.9e-324", "inf", "-inf", "INF", "infinity", "nan",
    "-nan", "NaN(123)", "0", "-0", "-1", "-99", "-700", "700", "699", "1",
    "0x10", "%2B5", "%20%2012", "%0912", "1e3", "2.5", "0.0000001", "",
    "9" * 400, "-" + "9" * 400, "1" + "0" * 3000,
]

HOSTILE_COLOURS = ["", "zz", "ff0000", "FF", "1ff0000", "fffffffffffffffff",
                   "-1", "%FF%FE", "0x123456", "g12345", "12345"]

# Request texts that end in the middle of an escape, or in one.
ESCAPE_ENDINGS = ["%", "%4", "%%", "%z", "%0", "+", "%%%", "%2", "&", "=",
                  "&data=", "&debug", "&debug="]


def type_data(rng):
    case = rng.choice(TYPE_CASES)
    return case.btype, case.data


def high_bytes(rng, n):
    return bytes(rng.randrange(0x80, 0x100) for _ in range(n))


def random_value(rng):
    kind = rng.randrange(8)
    if kind == 0:
        return rng.choice(HOSTILE_NUMBERS)
    if kind == 1:
        return url_escape(high_bytes(rng, rng.randrange(1, 20)))
    if kind == 2:
        return "".join(rng.choice("0123456789") for _ in
                       range(rng.randrange(1, 60)))
    if kind == 3:
        return url_escape(bytes(rng.randrange(0, 256) for _ in
                                range(rng.randrange(1, 40))))
    if kind == 4:
        return rng.choice(ESCAPE_ENDINGS)
    if kind == 5:
        return "A" * rng.choice([100, 500, 1000, 3000])
    if kind == 6:
        return str(rng.randrange(-1000, 1000))
    return rng.choice(HOSTILE_COLOURS)


def request(label, query=None, method="GET", body=None, content_length=None):
    """A request; text is taken byte for byte (str as Latin-1)."""
    if isinstance(query, str):
        query = query.encode("latin-1")
    if method is not None and method.upper() == "POST" and body is None:
        body = query
        query = None
        if content_length is None:
            content_length = str(len(body))
    return {"label": label, "method": method,
            "query": query, "content_length": content_length,
            "body": body if body is not None else b""}


def base_query(rng):
    btype, data = type_data(rng)
    parts = ["btype=%d" % btype, "data=" + url_escape(data)]
    if rng.random() < 0.5:
        parts.append("debug=1")
    return parts


def numeric_sweep():
    """Every hostile number for every numeric parameter, with valid data."""
    rng = random.Random(7)
    for name in NUMERIC_PARAMS:
        for value in HOSTILE_NUMBERS:
            parts = base_query(rng)
            parts.insert(rng.randrange(len(parts) + 1), name + "=" + value)
            query = "&".join(parts)
            yield request("number %s=%.20s" % (name, value), query,
                          rng.choice(["GET", "POST"]))
    for name in COLOUR_PARAMS:
        for value in HOSTILE_COLOURS:
            query = "&".join(base_query(rng) + [name + "=" + value])
            yield request("colour %s=%s" % (name, value), query)


def fixed_cases():
    """Hand-picked requests at the limits of the request intake."""
    yield request("empty GET", "")
    yield request("no QUERY_STRING", None)
    yield request("no method", "data=1", method=None)
    for method in ["HEAD", "PUT", "Get", "gET", "pOsT", "", "GETX"]:
        yield request("method %r" % method, "data=1&debug=1", method=method,
                      body=b"data=1", content_length="6")
    for cl, body in [("2147483647", b"data=1&debug=1"),
                     ("99999999999", b"data=1"), ("0", b"data=1"),
                     ("-1", b"data=1"), ("abc", b"data=1"), ("", b"data=1"),
                     (" 6", b"data=1"), ("6abc", b"data=1"),
                     ("3", b"data=12345&debug=1"), (None, b"data=1"),
                     ("14", b"data=1\0debug=1x"), ("20", b"help=1&\0\0\0\0\0\0\0"),
                     ("-2147483648", b""), ("1", b"")]:
        yield request("CONTENT_LENGTH %r" % cl, method="POST", body=body,
                      content_length=cl)
    # The request limit, in GET and POST, with debug inside.
    for total in [REQUEST_LIMIT - 1, REQUEST_LIMIT, REQUEST_LIMIT + 1,
                  REQUEST_LIMIT + 1000, 100000]:
        prefix = "debug=1&btype=7&data="
        query = prefix + "7" * (total - len(prefix))
        yield request("length %d GET" % total, query)
        yield request("length %d POST" % total, query, method="POST")
    # MSI takes any number of digits: the longest text that fits, and a
    # 3600-digit text, which makes the request too long.
    for digits in [REQUEST_LIMIT - len("btype=6&data="), 3600]:
        for extra in ["", "&w=699", "&angle=90"]:
            query = "btype=6&data=" + "9" * digits + extra
            for method in ["GET", "POST"]:
                yield request("MSI %d digits%s %s" % (digits, extra, method),
                              query, method)
    for ending in ESCAPE_ENDINGS:
        for head in ["data=AB", "btype=2&data=XY", "debug=1&data=1"]:
            yield request("ends with %r" % ending, head + ending)
            yield request("ends with %r POST" % ending, head + ending,
                          "POST")
    yield request("raw high bytes GET", "data=" + high_bytes(
        random.Random(1), 200).decode("latin-1") + "&debug=1")
    yield request("raw high bytes POST", method="POST",
                  body=b"debug=1&data=" + high_bytes(random.Random(2), 3000))
    yield request("all bytes escaped", "debug=1&data=" +
                  url_escape(bytes(range(1, 256))))


def random_requests(rng, count):
    names = NUMERIC_PARAMS + COLOUR_PARAMS + ["data", "debug", "help"]
    for n in range(count):
        parts = base_query(rng) if rng.random() < 0.7 else []
        for _ in range(rng.randrange(0, 8)):
            name = rng.choice(names)
            if name == "help" and rng.random() < 0.8:
                continue
            parts.append(name + "=" + random_value(rng))
        rng.shuffle(parts)
        query = "&".join(parts)
        if rng.random() < 0.1:
            query += rng.choice(ESCAPE_ENDINGS)
        if rng.random() < 0.05:
            query = query.replace("&", "&&", 1)
        method = "POST" if rng.random() < 0.4 else "GET"
        if method == "POST" and rng.random() < 0.3:
            body = query.encode("latin-1") + high_bytes(rng, rng.randrange(50))
            yield request("random %d POST raw" % n, method="POST", body=body,
                          content_length=str(len(body)))
        else:
            yield request("random %d %s" % (n, method), query, method)


def generate(seed, count):
    """count requests in all: the fixed ones, the sweep, then random ones."""
    cases = list(fixed_cases()) + list(numeric_sweep())
    rng = random.Random(seed)
    cases += list(random_requests(rng, max(0, count - len(cases))))
    return cases
