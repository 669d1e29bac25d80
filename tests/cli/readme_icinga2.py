#!/usr/bin/env python3
"""Writes the README's Icinga 2 configuration blocks for one node into a folder, verbatim, so
that the tests run exactly what a reader copies.

  readme_icinga2.py README NODE FOLDER

An Icinga 2 block is fenced as ```icinga2 and its first line names the node and the file:
`// master: zones.conf`. Every block of NODE goes to FOLDER/PATH (the first line included,
a comment); the paths written are printed one a line. It refuses, naming the line:
an ```icinga2 block without that first line, a path that leaves FOLDER, two blocks for one
file, and a fenced block of Icinga 2 objects that is not marked ```icinga2 (it would escape
validation). No block for NODE is refused as well."""
import os
import re
import sys

HEADER = re.compile(r"^// ([a-z][a-z0-9-]*): ([A-Za-z0-9._/-]+)$")
# What an unmarked block of Icinga 2 configuration starts its lines with.
OBJECT_LINE = re.compile(r"^(object|apply|template) [A-Z][A-Za-z]* ")


def blocks(path):
    """(fence line number, info string, lines) for each fenced block."""
    lines = open(path, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        if lines[i].startswith("```"):
            start, info = i + 1, lines[i][3:].strip()
            i += 1
            body = []
            while i < len(lines) and not lines[i].startswith("```"):
                body.append(lines[i])
                i += 1
            if i == len(lines):
                sys.exit("%s:%d: fenced block never closed" % (path, start))
            yield start, info, body
        i += 1


def main():
    readme, node, folder = sys.argv[1:4]
    written = set()
    for line, info, body in blocks(readme):
        if info != "icinga2":
            if any(OBJECT_LINE.match(b) for b in body):
                sys.exit("%s:%d: Icinga 2 objects in a block not marked icinga2" % (readme, line))
            continue
        header = HEADER.match(body[0]) if body else None
        if not header:
            sys.exit("%s:%d: icinga2 block without '// NODE: PATH' first" % (readme, line))
        if header.group(1) != node:
            continue
        relative = os.path.normpath(header.group(2))
        if relative.startswith("..") or os.path.isabs(relative):
            sys.exit("%s:%d: path %s leaves the configuration folder" % (readme, line, relative))
        if relative in written:
            sys.exit("%s:%d: a second block for %s: %s" % (readme, line, node, relative))
        written.add(relative)
        target = os.path.join(folder, relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "w", encoding="utf-8") as f:
            f.write("\n".join(body) + "\n")
        print(relative)
    if not written:
        sys.exit("%s: no icinga2 block for the node '%s'" % (readme, node))


main()
