"""The configuration snippets of README.md, as a reader copies them.

README.md marks each snippet with an HTML comment `<!-- snippet: NAME -->`
on the line before its indented code block. The tests configure the servers
from these very lines, so a snippet that stops working fails them.
"""

import os
import re

README = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "README.md")

# Where the snippets put the program and fcgiwrap's socket; the tests put
# their own copies elsewhere.
CGI_FOLDER = "/usr/lib/cgi-bin"
FCGIWRAP_SOCKET = "/run/fcgiwrap.socket"


class SnippetError(RuntimeError):
    pass


def snippet(name, readme=README):
    """The code block after `<!-- snippet: NAME -->`, without its indent."""
    with open(readme, encoding="utf-8") as f:
        lines = f.read().split("\n")
    marker = "<!-- snippet: %s -->" % name
    starts = [i for i, line in enumerate(lines) if line.strip() == marker]
    if len(starts) != 1:
        raise SnippetError("README.md has %d snippets named %r, not one" %
                           (len(starts), name))
    block = []
    for line in lines[starts[0] + 1:]:
        if line.startswith("    ") or (block and not line.strip()):
            block.append(line[4:])
        elif block or line.strip():
            break
    while block and not block[-1].strip():
        block.pop()
    if not block:
        raise SnippetError("no indented code block after " + marker)
    return "\n".join(block) + "\n"


def substitute(text, name, replacements):
    """text with each (old, new) replaced; every old must be in it."""
    for old, new in replacements:
        if old not in text:
            raise SnippetError("README snippet %r no longer names %s" %
                               (name, old))
        text = text.replace(old, new)
    return text


def configured(name, cgi_folder, socket=None):
    """The snippet with the test's program folder (and fcgiwrap socket)."""
    replacements = [(CGI_FOLDER, cgi_folder)]
    if socket is not None:
        replacements.append((FCGIWRAP_SOCKET, socket))
    return substitute(snippet(name), name, replacements)
