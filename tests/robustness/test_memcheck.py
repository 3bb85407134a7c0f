"""valgrind memcheck over one request of each barcode type.

Every request, and a few that take the other roads through the program
(help page, error page, POST body, over-long request), must end with the
exit code it ends with unchecked, and memcheck must report no error and no
leaked or still reachable block.

Each request is a test case; memcheck's log of request N is
FOLDER/memcheck-NN.log. Options: --cgi PATH --out FOLDER
"""

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from strixel_cgi import POSTAL_CASES, TYPE_CASES, run_cgi  # noqa: E402

VALGRIND_ERROR = 99


def requests():
    for case in TYPE_CASES:
        yield ("type %d %s" % (case.btype, case.name),
               {"method": "GET", "query": case.query().encode()}, 0)
    for btype, name, data in POSTAL_CASES:
        query = "btype=%d&data=%s&debug=1" % (btype, data)
        yield ("type %d %s" % (btype, name),
               {"method": "GET", "query": query.encode()}, 0)
        yield ("type %d %s fixed size" % (btype, name),
               {"method": "GET", "query": (query + "&w=300").encode()}, 0)
    body = b"btype=7&data=Posted&angle=90&bcolor=ffff00&fh=20"
    yield ("POST body", {"method": "POST", "body": body,
                         "content_length": str(len(body))}, 0)
    yield ("help page", {"method": "GET", "query": b"help=1"}, 0)
    yield ("error page", {"method": "GET",
                          "query": b"btype=11&data=ABC&debug=1"}, 6)
    yield ("failure without debug", {"method": "GET",
                                     "query": b"btype=11&data=ABC"}, 6)
    yield ("over-long request", {"method": "GET",
                                 "query": b"data=" + b"1" * 3600}, 6)
    yield ("short POST body", {"method": "POST", "body": b"data=1",
                               "content_length": "2147483647"}, 1)


REQUESTS = list(requests())


@pytest.mark.parametrize("n", range(len(REQUESTS)),
                         ids=[r[0].replace(" ", "-") for r in REQUESTS])
def test_memcheck_reports_nothing(cgi, out, n):
    label, case, want = REQUESTS[n]
    log = os.path.join(out, "memcheck-%02d.log" % n)
    wrapper = ["valgrind", "--quiet", "--log-file=" + log,
               "--error-exitcode=%d" % VALGRIND_ERROR,
               "--leak-check=full", "--show-leak-kinds=all",
               "--errors-for-leak-kinds=all", "--track-origins=yes"]
    result = run_cgi(cgi, case, timeout=300, limit_bytes=0, wrapper=wrapper)
    with open(log) as f:
        report = f.read()
    assert result.code == want and not report.strip(), (
        "memcheck %s: exit %r (expected %d), see %s\n%s" %
        (label, result.code, want, log, report[:3000]))
