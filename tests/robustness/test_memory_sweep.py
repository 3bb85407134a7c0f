"""Sweeps an address-space limit over text-heavy requests.

Under every limit a request must end with the image it gives without a
limit, or with an error code and no output at all: never a different image
reported as a success (a glyph lost for want of memory leaves a blank where
its text belongs), never a signal, never part of a response. Images are
compared byte for byte but for the two chunks that carry the clock (tIME
and the Creation Time text).

Each request is swept upwards from a limit too low for the program to start,
in coarse steps, until a few limits in a row give the image; that is where a
lack of memory stops reaching the text, so the sweep stays short. Where the
outcome changes between two coarse steps, the limits between them are tried
in fine steps.

Each request is a test case. Options: --cgi PATH [--jobs N] [--timeout S]
"""

import concurrent.futures
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from strixel_cgi import (BadResponse, PNG_HEADER, SVG_HEADER,  # noqa: E402
                         png_chunks, run_cgi)

MIB = 1024 * 1024
# Code 93 Extended with tilde escapes: every character draws a wide glyph
# of the text band, spread over the width, so the text engine holds many
# large bitmaps at once.
ESCAPES = "~1B~05~11~12~13~14~15~16~17~18~19"
REQUESTS = [
    # (name, query, first limit, coarse step, fine step)
    ("large text band",
     "btype=20&xdim=1&h=699&fh=440&talign=3&w2n=2.5&data=" + ESCAPES * 107,
     16 * MIB, 2 * MIB, 64 * 1024),
    ("smaller text band",
     "btype=20&xdim=1&h=600&fh=300&talign=3&w2n=2.5&data=" + ESCAPES * 30,
     8 * MIB, MIB, 32 * 1024),
    # The document keeps the outline of every glyph instead of a raster.
    ("large text band as SVG",
     "fmt=svg&btype=20&xdim=1&h=699&fh=440&talign=3&w2n=2.5&data=" +
     ESCAPES * 107,
     4 * MIB, MIB // 2, 16 * 1024),
]
# The sweep ends after this many limits in a row give the image, or at the
# last limit.
CORRECT_IN_A_ROW = 3
LAST_LIMIT = 256 * MIB
# Codes of a request that failed for want of memory or could not finish:
# the image or canvas could not be set up (3), the encoder failed (2), an
# allocation failed (14).
MEMORY_ERROR_CODES = (2, 3, 14)


def without_clock(output):
    """The response with the clock-dependent chunks left out."""
    if output.startswith(SVG_HEADER):
        return output
    if not output.startswith(PNG_HEADER):
        raise BadResponse("no image header")
    kept = []
    for kind, data in png_chunks(output[len(PNG_HEADER):]):
        if kind == b"tIME" or (kind == b"tEXt" and
                               data.startswith(b"Creation Time\0")):
            continue
        kept.append((kind, data))
    return kept


def run(cgi, query, limit, timeout):
    case = {"method": "GET", "query": query.encode()}
    return run_cgi(cgi, case, timeout=timeout, limit_bytes=limit)


def judge(result, expected):
    """None when the answer is correct, else what is wrong with it."""
    if result.timed_out:
        return "did not end in time"
    if result.signal:
        return "ended by signal %d" % result.signal
    if result.errors:
        return "wrote to standard error: %r" % result.errors[:200]
    if result.code == 0:
        try:
            if without_clock(result.output) == expected:
                return None
        except BadResponse as e:
            return "success with a broken image: %s" % e
        return "success with another image (%d bytes)" % len(result.output)
    if result.code not in MEMORY_ERROR_CODES:
        return "exit code %d" % result.code
    if result.output:
        return "error %d wrote %d bytes" % (result.code, len(result.output))
    return None


def outcome(result, expected):
    """(kind, fault): the exit code or "fault", and what is wrong."""
    fault = judge(result, expected)
    return ("fault" if fault else result.code), fault


def sweep(cgi, name, query, first, coarse, fine, jobs, timeout):
    """Faults found and the number of runs.

    Coarse steps from first until the image comes CORRECT_IN_A_ROW times
    in a row; then fine steps across every coarse step where the outcome
    changed (where the program begins to fail at another stage, the window
    of a stage that loses something quietly can be narrower than a coarse
    step).
    """
    reference = run(cgi, query, 0, timeout * 4)
    if reference.code != 0:
        return ["%s: no image without a limit (exit %r)" %
                (name, reference.code)], 0
    expected = without_clock(reference.output)
    faults = []
    seen = {}

    def try_limits(pool, limits):
        results = pool.map(lambda lim: run(cgi, query, lim, timeout), limits)
        for lim, result in zip(limits, results):
            kind, fault = outcome(result, expected)
            seen[lim] = kind
            if fault:
                faults.append("%s at --as=%d: %s" % (name, lim, fault))

    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        limit = first
        while limit <= LAST_LIMIT:
            try_limits(pool, [limit + k * coarse for k in range(jobs)])
            limit += jobs * coarse
            last = sorted(seen)[-CORRECT_IN_A_ROW:]
            if (len(last) == CORRECT_IN_A_ROW and
                    all(seen[lim] == 0 for lim in last)):
                break
        coarse_limits = sorted(seen)
        between = []
        for low, high in zip(coarse_limits, coarse_limits[1:]):
            if seen[low] != seen[high] or seen[low] == "fault":
                between += range(low + fine, high, fine)
        try_limits(pool, between)
    return faults, len(seen)


@pytest.mark.parametrize("name,query,first,coarse,fine", REQUESTS,
                         ids=[r[0].replace(" ", "-") for r in REQUESTS])
def test_every_limit_gives_the_image_or_an_error_with_no_output(
        pytestconfig, cgi, note, name, query, first, coarse, fine):
    faults, runs = sweep(cgi, name, query, first, coarse, fine,
                         pytestconfig.getoption("jobs"),
                         pytestconfig.getoption("timeout") or 30)
    note("%s: %d limits from %d MiB, steps of %g and %g KiB, %d faults" %
         (name, runs, first // MIB, coarse / 1024, fine / 1024, len(faults)))
    assert not faults, "\n".join(faults)
