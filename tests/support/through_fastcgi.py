#!/usr/bin/python3
"""Runs a command while the program serves FastCGI on a Unix socket.

Usage: through_fastcgi.py PROGRAM WORKERS COMMAND...

Starts PROGRAM with a listening socket as its standard input (the FastCGI
convention) and STRIXEL_FASTCGI_WORKERS=WORKERS, runs COMMAND with
STRIXEL_FASTCGI_SOCKET naming the socket (tests/support/CgiRunner.cpp then
sends every request through cgi-fcgi to it), stops the program by its pid
and exits with COMMAND's exit code; 1 when the program's worker pool was no
longer running when COMMAND ended.
"""

import os
import signal
import socket
import subprocess
import sys
import tempfile


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    program, workers, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    with tempfile.TemporaryDirectory(prefix="strixel-fcgi-") as folder:
        path = os.path.join(folder, "strixel.sock")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(path)
        listener.listen(64)
        env = dict(os.environ, STRIXEL_FASTCGI_WORKERS=workers)
        server = subprocess.Popen([program], stdin=listener.fileno(),
                                  env=env)
        listener.close()
        try:
            done = subprocess.run(
                command, env=dict(os.environ, STRIXEL_FASTCGI_SOCKET=path),
                timeout=3000)
            alive = server.poll() is None
        finally:
            if server.poll() is None:
                os.kill(server.pid, signal.SIGTERM)
            server.wait(timeout=30)
        if not alive:
            print("through_fastcgi: the FastCGI server ended early with %r" %
                  server.returncode)
            return 1
        print("through_fastcgi: the FastCGI server stopped with %r" %
              server.returncode)
        return done.returncode


if __name__ == "__main__":
    sys.exit(main())
