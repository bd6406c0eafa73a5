#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks the relative links of markdown files: each names a file that exists, and a
"#anchor" into a markdown file (or into the same file) matches one of its headings, with the
heading turned into an anchor as the common markdown renderers do.

    check_links.py FILE.md...      prints each broken link as FILE:LINE: TARGET: why; exits 1
                                   when there is any
"""
import os
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
FENCE = re.compile(r"^\s*(```|~~~)")
CODE_SPAN = re.compile(r"`+[^`]*`+")
HEADING = re.compile(r"^#{1,6}\s+(.*?)\s*#*\s*$")


def text_lines(path):
    """The lines of a markdown file outside fenced code blocks, with their numbers."""
    in_fence = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if FENCE.match(line):
                in_fence = not in_fence
            elif not in_fence:
                yield number, line


def anchor_of(heading):
    """A heading's anchor: lower case, markup and punctuation dropped, spaces made hyphens."""
    heading = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link keeps its text
    heading = heading.replace("`", "").lower()
    heading = re.sub(r"[^\w\- ]", "", heading)
    return heading.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        found, seen = set(), {}
        for _, line in text_lines(path):
            match = HEADING.match(line)
            if not match:
                continue
            anchor = anchor_of(match.group(1))
            # A repeated heading gets -1, -2, ... after its first.
            count = seen.get(anchor, 0)
            seen[anchor] = count + 1
            found.add(anchor if count == 0 else f"{anchor}-{count}")
        cache[path] = found
    return cache[path]


def broken_links(path):
    for number, line in text_lines(path):
        # Code that happens to look like a link is not one.
        for target in LINK.findall(CODE_SPAN.sub("", line)):
            if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                continue  # http:, https:, mailto: and the like are not checked here
            name, _, anchor = target.partition("#")
            resolved = os.path.normpath(os.path.join(os.path.dirname(path), name)) if name else path
            if not os.path.exists(resolved):
                yield number, target, f"no file {resolved}"
            elif anchor and resolved.endswith(".md") and anchor not in anchors(resolved):
                yield number, target, f"no heading in {resolved} gives the anchor #{anchor}"


def main(paths):
    if not paths:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    failures = 0
    for path in paths:
        for number, target, why in broken_links(path):
            print(f"{path}:{number}: {target}: {why}")
            failures += 1
    if failures:
        print(f"{failures} broken link(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
