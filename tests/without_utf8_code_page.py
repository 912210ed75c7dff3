#!/usr/bin/env python3
"""without_utf8_code_page.py PROGRAM COPY: COPY is PROGRAM with a manifest
that names no code page it knows, so that it runs in the system's (1252 under
Wine), as on a Windows that ignores the UTF-8 code page of the manifest."""
import sys

MARK = b">UTF-8</activeCodePage>"
program = open(sys.argv[1], "rb").read()
if program.count(MARK) != 1:
    sys.exit("%s: no single UTF-8 code page in its manifest" % sys.argv[1])
# Of the same length: the resource keeps its size.
open(sys.argv[2], "wb").write(program.replace(MARK, b">none!</activeCodePage>"))
