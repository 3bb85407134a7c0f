"""A few thousand generated requests against strixel.cgi.

Each request runs in its own process under an address-space limit and must
end within the time limit with a request error code (never a signal),
writing nothing, a complete image response or an HTML page; a failure
without debug writes nothing, and nothing is ever written to standard
error. The fuzz corpus and the saved fuzz findings are replayed too. Each
request is a test case, named by its index and how it was made; a failing
one prints the command that runs it again. The requests run --jobs at a
time, all before the first case is judged.

Options: --cgi PATH [--seed N] [--count N] [--jobs N] [--limit-mib N]
         [--timeout S]
"""

import concurrent.futures
import os
import shlex
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from generate_requests import generate  # noqa: E402
from strixel_cgi import BadResponse, check_response, run_cgi  # noqa: E402

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
FUZZ_DIRS = [os.path.join(SOURCE_DIR, "tests", "fuzz", d)
             for d in ("corpus", "regressions")]


def fuzz_input_request(label, data):
    """The CGI request a fuzz input stands for (see RequestFuzzer.cpp)."""
    letters = "GgQPpUSCMN"
    if not data:
        return {"label": label, "method": "GET", "query": b"",
                "content_length": None, "body": b""}
    mode = chr(data[0])
    if mode not in letters or data[0] == 0:
        mode = letters[data[0] % len(letters)]
    text = data[1:]
    no_zero = text.split(b"\0", 1)[0]
    first, _, rest = text.partition(b"\n")
    r = {"label": label, "method": "GET", "query": None,
         "content_length": None, "body": b""}
    if mode in "GgQ":
        r["method"] = "gEt" if mode == "g" else "GET"
        r["query"] = None if mode == "Q" else no_zero
    elif mode in "PpUS":
        r["method"] = "post" if mode == "p" else "POST"
        r["body"] = text
        r["content_length"] = {"U": None, "S": "2147483647"}.get(
            mode, str(len(text)))
    elif mode == "C":
        r["method"] = "POST"
        r["content_length"] = first.split(b"\0", 1)[0].decode("latin-1")
        r["body"] = rest
    elif mode == "M":
        r["method"] = first.split(b"\0", 1)[0].decode("latin-1")
        r["query"] = rest.split(b"\0", 1)[0]
        r["body"] = rest
        r["content_length"] = str(len(rest))
    else:
        r["method"] = None
        r["query"] = no_zero
    return r


def fuzz_file_requests():
    for d in FUZZ_DIRS:
        if not os.path.isdir(d):
            continue
        for name in sorted(os.listdir(d)):
            with open(os.path.join(d, name), "rb") as f:
                yield fuzz_input_request(
                    "%s/%s" % (os.path.basename(d), name), f.read())


def reproducer(case):
    env = []
    for key, var in (("method", "REQUEST_METHOD"), ("query", "QUERY_STRING"),
                     ("content_length", "CONTENT_LENGTH")):
        value = case.get(key)
        if value is not None:
            if isinstance(value, bytes):
                value = value.decode("latin-1")
            env.append("%s=%s" % (var, shlex.quote(value[:300])))
    return "env -i %s strixel.cgi  (body %r)" % (" ".join(env),
                                               case.get("body", b"")[:300])


def check_one(cgi, timeout, limit_mib, help_page, case):
    result = run_cgi(cgi, case, timeout=timeout,
                     limit_bytes=limit_mib * 1024 * 1024)
    if result.timed_out:
        return "did not end within %d s" % timeout, result
    if result.signal:
        return "ended by signal %d" % result.signal, result
    if result.errors:
        return "wrote to standard error: %r" % result.errors[:200], result
    try:
        check_response(case, result.code, result.output, help_page)
    except BadResponse as e:
        return str(e), result
    return None, result


def all_cases(config):
    return (generate(config.getoption("seed"), config.getoption("count")) +
            list(fuzz_file_requests()))


def pytest_generate_tests(metafunc):
    if "index" in metafunc.fixturenames:
        cases = all_cases(metafunc.config)
        metafunc.parametrize(
            "index", range(len(cases)),
            ids=["%d-%s" % (i, c["label"].encode("ascii", "backslashreplace")
                            .decode()) for i, c in enumerate(cases)])


@pytest.fixture(scope="module")
def help_page(cgi):
    help_run = run_cgi(cgi, {"method": "GET", "query": b"help=1"})
    assert help_run.code == 0, "the help request itself failed"
    assert help_run.output.startswith(b"Content-type: text/")
    return help_run.output


@pytest.fixture(scope="module")
def outcomes(pytestconfig, cgi, help_page, note):
    """Every case run: (problem or None, result) by index."""
    cases = all_cases(pytestconfig)
    timeout = pytestconfig.getoption("timeout") or 10
    limit_mib = pytestconfig.getoption("limit_mib")
    with concurrent.futures.ThreadPoolExecutor(
            pytestconfig.getoption("jobs")) as pool:
        done = list(pool.map(
            lambda c: check_one(cgi, timeout, limit_mib, help_page, c),
            cases))
    codes = {}
    for _, result in done:
        codes[result.code] = codes.get(result.code, 0) + 1
    slowest = max(range(len(done)), key=lambda i: done[i][1].seconds)
    note("robustness exit codes: " + ", ".join(
        "%s: %d" % (k, v) for k, v in sorted(codes.items(),
                                             key=lambda kv: str(kv[0]))))
    note("robustness slowest request: %.2f s (#%d %s)" % (
        done[slowest][1].seconds, slowest, cases[slowest]["label"]))
    return cases, done


def test_the_help_page_answers(help_page):
    assert help_page


def test_request(outcomes, index):
    cases, done = outcomes
    problem, _ = done[index]
    assert problem is None, "%s\n  again: %s" % (problem,
                                                  reproducer(cases[index]))
