#!/usr/bin/env python3
"""Runs every example command line of the docs and compares what it prints with what the docs
say it prints, numbers masked.

  docs_examples.py --run-in FOLDER FILE...

Where examples are: in Markdown, fenced blocks; in a manual page, .nf/.fi blocks (the text
unescaped as groff renders it: \\- is -, \\(aq is ', \\(ti is ~); in a plain text file,
indented lines. In such a block a line "$ COMMAND" is a command of a POSIX shell, run by bash
in FOLDER with the PATH given; "> COMMAND" one of a Windows command prompt. The lines after a
command, up to the next command, a blank line or the end of the block, are its standard output
(leading and trailing blanks aside). A line of the docs that ends in " ..." stands for any
line that starts with what comes before it (performance data too long to print).

Before comparing, both sides are masked: every number (digits with an optional sign and
decimals) becomes #, and the component's D field ("D= 0", "D=-1") becomes D=#. Everything
else must match exactly.

A Windows command that runs brevun-check with neither --com nor --configure is run here with
the native build (the -H and -P lines are the portable code's on both systems); its quoting
must mean the same to cmd.exe and to bash. Every other Windows command (the component through
--com or --configure, .cmd, .vbs, msiexec) is listed with the Wine test that runs it, or as
not run. A brevun-check command line that is no example (a line of a block without a prompt,
a `code span` of Markdown prose with two words or more after the program) fails unless an
example of the same file runs the same arguments. A file without examples fails.
"""
import os
import re
import subprocess
import sys

# The brevun-check of an example: the plugin by name, the Windows tool of either folder, or
# the Debian package's path.
PROGRAM = r"(?:(?:x86|x64)\\|/usr/lib/nagios/plugins/)?brevun-check(?:\.exe)?"
PROGRAM_WORD = re.compile(r"^" + PROGRAM + r"$")
MENTION = re.compile(r"(?:^|[\s`'\"])(" + PROGRAM + r")\s+(-[^`]*)")
# A `code span` that is a whole command line: the program and two words or more.
CODE_SPAN = re.compile(r"`(" + PROGRAM + r"\s+-[^`\s]*\s+[^`]+)`")

# What runs the Windows-only examples: (pattern on the command, the test that runs it).
WINDOWS_TESTS = [
    (r"--configure", "tests/wine/release/configure.sh"),
    (r"--com\b.*-P ", "tests/wine/release/install.sh"),
    (r"--com\b.*-H ", "tests/wine/release/com_plugin.sh"),
    (r"^(?:un)?register\.cmd( /user)?$", "tests/wine/release/install.sh"),
    (r"example-host\.vbs$", "tests/wine/release/install.sh"),
    (r"example-host\.vbs \"#", "tests/wine/msi/package.sh (against a loopback chronyd)"),
    (r"^msiexec /i \S+\.msi( /qn| REINSTALL=ALL REINSTALLMODE=omus /qn)",
     "tests/wine/msi/package.sh"),
    (r"^msiexec /x \{", "tests/wine/msi/package.sh"),
    (r"^regsvr32\b", "tests/wine/register.sh"),
]
# Characters that cmd.exe and bash read differently, or that one of them reads at all: outside
# double quotes, and inside them (where both leave the rest alone).
NOT_PORTABLE = set("'`$%^&|<>\\!~*?;(){}#")
NOT_PORTABLE_QUOTED = set("`$%\\!")


def mask(text):
    text = re.sub(r"D=[ -]?\d+", "D=#", text)
    return re.sub(r"[-+]?\d+(?:\.\d+)?", "#", text)


def unescape_roff(line):
    for escape, plain in (("\\-", "-"), ("\\(aq", "'"), ("\\(ti", "~"), ("\\(dq", '"'),
                          ("\\(ha", "^"), ("\\&", ""), ("\\e", "\\")):
        line = line.replace(escape, plain)
    return line


def blocks(path, lines):
    """(line number, [(line number, text)]) for each block of examples of the file."""
    if path.endswith(".md"):
        body, start = None, 0
        for n, line in enumerate(lines, 1):
            if line.startswith("```"):
                if body is None:
                    body, start = [], n
                else:
                    yield start, body
                    body = None
            elif body is not None:
                body.append((n, line))
        if body is not None:
            sys.exit("%s:%d: fenced block never closed" % (path, start))
    elif re.search(r"\.\d$", path):
        body, start = None, 0
        for n, line in enumerate(lines, 1):
            if line.startswith(".nf"):
                body, start = [], n
            elif line.startswith(".fi") and body is not None:
                yield start, body
                body = None
            elif body is not None:
                body.append((n, unescape_roff(line)))
    else:
        body = []
        for n, line in enumerate(lines, 1):
            if line.startswith("  "):
                body.append((n, line))
            elif body:
                yield body[0][0], body
                body = []
        if body:
            yield body[0][0], body


def prose(path, lines):
    """(line number, text) of the lines outside blocks that may name a command in passing."""
    if path.endswith(".md"):
        inside = False
        for n, line in enumerate(lines, 1):
            if line.startswith("```"):
                inside = not inside
            elif not inside:
                yield n, line
    elif not re.search(r"\.\d$", path):
        for n, line in enumerate(lines, 1):
            if not line.startswith("  "):
                yield n, line


class Example:
    def __init__(self, path, number, prompt, command):
        self.path, self.number, self.prompt, self.command = path, number, prompt, command
        self.expected = []

    def where(self):
        return "%s:%d" % (self.path, self.number)


def examples_of(path):
    lines = open(path, encoding="utf-8").read().split("\n")
    found, others = [], []
    for _, body in blocks(path, lines):
        current = None
        for n, line in body:
            stripped = line.strip()
            prompt = re.match(r"^([$>]) (.*)$", stripped)
            if prompt:
                current = Example(path, n, prompt.group(1), prompt.group(2))
                found.append(current)
            elif not stripped:
                current = None
            elif current is not None:
                current.expected.append(stripped)
            else:
                mention = MENTION.search(line)
                if mention:
                    others.append((n, mention.group(2).strip()))
    for n, line in prose(path, lines):
        for span in CODE_SPAN.finditer(line):
            others.append((n, span.group(1).split(None, 1)[1].strip()))
    return found, others


def arguments(command):
    """The arguments after the program of a brevun-check command line, or None."""
    words = command.split(None, 1)
    if not words or not PROGRAM_WORD.match(words[0]):
        return None
    return words[1].strip() if len(words) > 1 else ""


def windows_test(command):
    for pattern, test in WINDOWS_TESTS:
        if re.search(pattern, command):
            return test
    return None


def run(example, environment, folder):
    """(ok, text) for one example that runs here."""
    command = example.command
    if example.prompt == ">":
        rest = arguments(command)
        quoted = "".join(re.findall(r'"([^"]*)"', rest))
        bare = re.sub(r'"[^"]*"', "", rest)
        bad = sorted(set(bare) & NOT_PORTABLE | set(quoted) & NOT_PORTABLE_QUOTED)
        if bad:
            return False, "a Windows command line with %s, which cmd.exe and bash read " \
                          "differently" % " ".join(bad)
        command = "brevun-check " + rest
    try:
        done = subprocess.run(["bash", "-c", command], capture_output=True, text=True,
                              timeout=60, env=environment, cwd=folder, stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        return False, "did not end within 60 s"
    got = [g.strip() for g in done.stdout.rstrip("\n").split("\n")] if done.stdout.strip() else []
    want = example.expected
    same = len(got) == len(want) and all(
        mask(g) == mask(w) or (w.endswith(" ...") and mask(g).startswith(mask(w[:-4])))
        for g, w in zip(got, want))
    if same:
        return True, got[0] if got else "(no output)"
    report = ["exit %d" % done.returncode]
    report += ["  docs: " + w for w in want] or ["  docs: (no output)"]
    report += ["  got:  " + g for g in got] or ["  got:  (no output)"]
    if done.stderr.strip():
        report.append("  standard error: " + done.stderr.strip()[:600])
    return False, "\n".join(report)


def main():
    environment = dict(os.environ)
    folder, files = sys.argv[2], sys.argv[3:]
    passes = fails = 0
    windows = []

    def fail(where, text):
        nonlocal fails
        fails += 1
        print("FAIL %s: %s" % (where, text))

    for path in files:
        found, others = examples_of(path)
        ran = 0
        for example in found:
            is_plugin = arguments(example.command) is not None
            if example.prompt == "$" or (is_plugin and not windows_test(example.command)):
                ok, text = run(example, environment, folder)
                ran += 1
                if ok:
                    passes += 1
                    print("ok   %s: %s %s\n       %s" % (example.where(), example.prompt,
                                                       example.command, text))
                else:
                    fail(example.where(), "%s %s\n%s" % (example.prompt, example.command, text))
            else:
                test = windows_test(example.command)
                windows.append("%s: > %s\n       %s" % (
                    example.where(), example.command,
                    "Windows only, run by " + test if test else
                    "Windows only, not run: no Wine test runs it"))
        if ran == 0:
            fail(path, "no example runs here")
        run_at = {arguments(e.command): e.number for e in found if e.prompt == "$"}
        for n, rest in others:
            if rest in run_at:
                print("ok   %s:%d: brevun-check %s\n       (run as the example of line %d)" % (
                    path, n, rest, run_at[rest]))
            else:
                fail("%s:%d" % (path, n), "brevun-check %s: a command line that is no example "
                     "(write it as '$ brevun-check ...' with its output)" % rest)
        print("     %s: %d examples, %d run here" % (path, len(found), ran))
    for line in windows:
        print("not  " + line)
    print("%d passed, %d failed" % (passes, fails))
    return 1 if fails else 0


if __name__ == "__main__":
    sys.exit(main())
