#!/usr/bin/env python3
"""Puts one "## " section into docs/PERFORMANCE.md: replaces the section of
that heading (up to the next "## " heading) or appends it.

    bench/writesection.py DOC HEADING SECTION_TEXT
"""
import re
import sys

path, heading, section = sys.argv[1], sys.argv[2], sys.argv[3].rstrip() + "\n"
try:
    text = open(path).read()
except FileNotFoundError:
    text = "# Performance\n"
pattern = re.compile(r"^" + re.escape(heading) + r"\n.*?(?=^## |\Z)", re.S | re.M)
if pattern.search(text):
    text = pattern.sub(lambda m: section + "\n", text, count=1)
else:
    text = text.rstrip() + "\n\n" + section
open(path, "w").write(text)
