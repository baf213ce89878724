#!/usr/bin/env python3
"""Runs the shell blocks of a Markdown guide that are marked as runnable, in order, as a reader
following the guide in one terminal would.

A runnable block is a fenced block whose opening line is exactly "```sh runnable". Every other
block is documentation only.

    run_blocks.py GUIDE SOURCE_DIR MINGW_BUILD_DIR NATIVE_BUILD_DIR

The blocks run from a scratch copy of the clone's top folder: every top-level entry of SOURCE_DIR
is linked into it, except build/, which holds build/mingw-x86 -> MINGW_BUILD_DIR and
build/native -> NATIVE_BUILD_DIR. So a block's paths are the ones a reader with the preset build
folders types, and whatever a block writes lands in the scratch folder, not in the clone.

Each block runs under bash -euo pipefail in its own process group with a time limit; exported
variables and shell functions are carried from one block to the next, as in one terminal. The guide's promises are
checked before anything runs: at least one runnable block, and every IPv4 literal in a runnable
block within 127.0.0.120-127.0.0.139 (the addresses this test may use, so that parallel tests on
other loopback addresses are left alone).
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

MARKER = "```sh runnable"
BLOCK_SECONDS = 150
ADDRESS = re.compile(r"(?<![\d.])(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})(?![\d.])")
ALLOWED_LAST = range(120, 140)


def runnable_blocks(text):
    """Returns (line number of its first line, body) for every runnable block, lines counted from
    1; raises on an unclosed one."""
    blocks = []
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        if lines[i].rstrip() == MARKER:
            start = i + 1
            j = start
            while j < len(lines) and lines[j].rstrip() != "```":
                j += 1
            if j == len(lines):
                raise ValueError(f"line {start}: runnable block is not closed")
            blocks.append((start + 1, "\n".join(lines[start:j]) + "\n"))
            i = j
        i += 1
    return blocks


def address_problems(line_number, body):
    problems = []
    for offset, line in enumerate(body.split("\n")):
        for match in ADDRESS.finditer(line):
            octets = [int(part) for part in match.groups()]
            if octets[:3] != [127, 0, 0] or octets[3] not in ALLOWED_LAST:
                problems.append(f"line {line_number + offset}: address {match.group(0)} is "
                                "outside 127.0.0.120-127.0.0.139")
    return problems


def make_scratch(source_dir, mingw_dir, native_dir):
    scratch = tempfile.mkdtemp(prefix="vexil-guide-")
    for name in os.listdir(source_dir):
        if name in ("build", ".git"):
            continue
        os.symlink(os.path.join(source_dir, name), os.path.join(scratch, name))
    os.mkdir(os.path.join(scratch, "build"))
    os.symlink(os.path.abspath(mingw_dir), os.path.join(scratch, "build", "mingw-x86"))
    os.symlink(os.path.abspath(native_dir), os.path.join(scratch, "build", "native"))
    return scratch


def run_block(scratch, env_file, line_number, body):
    """Runs one block; returns its exit status (124 when it ran out of time)."""
    script = (f"set -a; . {env_file}; set +a\n"
              "set -euo pipefail\n"
              f"{body}\n"
              f"{{ export -p; declare -f; }} > {env_file}\n")
    process = subprocess.Popen(["bash", "-c", script], cwd=scratch, stdin=subprocess.DEVNULL,
                               start_new_session=True)
    try:
        return process.wait(timeout=BLOCK_SECONDS)
    except subprocess.TimeoutExpired:
        print(f"block at line {line_number}: still running after {BLOCK_SECONDS} s; stopped")
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return 124
    finally:
        # Whatever a block left behind in its group (a background agent or host) ends with it.
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass


def main(argv):
    if len(argv) != 5:
        print(__doc__)
        return 2
    guide, source_dir, mingw_dir, native_dir = argv[1:]
    with open(guide, encoding="utf-8") as f:
        blocks = runnable_blocks(f.read())
    problems = [p for number, body in blocks for p in address_problems(number, body)]
    if not blocks:
        problems.append("no runnable blocks found (marker: " + MARKER + ")")
    if problems:
        print("\n".join(problems))
        return 1

    scratch = make_scratch(source_dir, mingw_dir, native_dir)
    env_file = os.path.join(scratch, ".guide-env")
    with open(env_file, "w") as f:
        f.write("")
    try:
        for number, body in blocks:
            print(f"== block at line {number}", flush=True)
            status = run_block(scratch, env_file, number, body)
            if status != 0:
                print(f"block at line {number} failed with status {status}:\n{body}")
                return 1
        print(f"== all {len(blocks)} runnable blocks passed")
        return 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
