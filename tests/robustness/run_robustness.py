#!/usr/bin/python3
"""Runs a few thousand generated requests against strixel.cgi.

Each request runs in its own process under an address-space limit and must
end within the time limit with a request error code (never a signal),
writing nothing, a complete image response or an HTML page; a failure
without debug writes nothing, and nothing is ever written to standard
error. The fuzz corpus and the saved fuzz findings are replayed too.

Usage: run_robustness.py --cgi PATH [--seed N] [--count N] [--jobs N]
                         [--limit-mib N] [--timeout S] [--show INDEX]
"""

import argparse
import concurrent.futures
import os
import shlex
import sys

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


def check_one(args, help_page, index, case):
    result = run_cgi(args.cgi, case, timeout=args.timeout,
                     limit_bytes=args.limit_mib * 1024 * 1024)
    if result.timed_out:
        return "did not end within %d s" % args.timeout, result
    if result.signal:
        return "ended by signal %d" % result.signal, result
    if result.errors:
        return "wrote to standard error: %r" % result.errors[:200], result
    try:
        check_response(case, result.code, result.output, help_page)
    except BadResponse as e:
        return str(e), result
    return None, result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cgi", required=True)
    parser.add_argument("--seed", type=int, default=20240101)
    parser.add_argument("--count", type=int, default=3000)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--limit-mib", type=int, default=512,
                        help="address-space limit; 0 for none (sanitizers)")
    parser.add_argument("--timeout", type=int, default=10)
    parser.add_argument("--show", type=int, default=None,
                        help="print one request and how to run it")
    args = parser.parse_args()

    cases = generate(args.seed, args.count) + list(fuzz_file_requests())
    if args.show is not None:
        print(cases[args.show]["label"])
        print(reproducer(cases[args.show]))
        return 0

    help_run = run_cgi(args.cgi, {"method": "GET", "query": b"help=1"})
    help_page = help_run.output
    if help_run.code != 0 or not help_page.startswith(b"Content-type: text/"):
        print("the help request itself failed: %r" % help_run.code)
        return 1

    failures = []
    codes = {}
    slowest = (0.0, None)
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = {pool.submit(check_one, args, help_page, i, c): i
                   for i, c in enumerate(cases)}
        for future in concurrent.futures.as_completed(futures):
            i = futures[future]
            problem, result = future.result()
            codes[result.code] = codes.get(result.code, 0) + 1
            if result.seconds > slowest[0]:
                slowest = (result.seconds, i)
            if problem:
                failures.append((i, problem))

    for i, problem in sorted(failures):
        print("FAIL #%d %s: %s" % (i, cases[i]["label"], problem))
        print("     " + reproducer(cases[i]))
    print("exit codes: " + ", ".join(
        "%s: %d" % (k, v) for k, v in sorted(codes.items(),
                                             key=lambda kv: str(kv[0]))))
    print("slowest request: %.2f s (#%s %s)" % (
        slowest[0], slowest[1],
        cases[slowest[1]]["label"] if slowest[1] is not None else ""))
    print("robustness: %d passed, %d failed" % (len(cases) - len(failures),
                                               len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
