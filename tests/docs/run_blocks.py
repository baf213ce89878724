#!/usr/bin/env python3
"""Runs the shell blocks of a Markdown guide that are marked as runnable, in order, each as a
reader would paste it into a fresh terminal at the top of a clone.

A runnable block is a fenced block whose opening line is exactly "```sh runnable". Every other
block is documentation only.

    run_blocks.py [--arch ARCH] GUIDE SOURCE_DIR NATIVE_BUILD_DIR MINGW_X86_BUILD_DIR
                  MINGW_X64_BUILD_DIR

With --arch, the blocks run only when ARCH (x86 or x64) is the architecture the guide's blocks
choose on this machine (SOURCE_DIR/scripts/arch-probe); otherwise the run ends at once with
status 77 (skipped), so that of the two Windows builds' tests only one runs them.

The blocks run from a scratch copy of the clone's top folder: every top-level entry of SOURCE_DIR
is linked into it, except build/, which holds build/native, build/mingw-x86 and build/mingw-x64
linked to the given build folders. So a block's paths are the ones a reader with the preset build
folders types, and whatever a block writes lands in the scratch folder, not in the clone.

Each block runs on its own: a new bash with -e and -u only (no pipefail, which a reader's shell
does not have), nothing carried over from the blocks before it except the files they made, in its
own process group with a time limit. The guide's promises are checked before anything runs: at
least one runnable block, and every IPv4 literal in a runnable block within 127.0.0.120-127.0.0.139
(the addresses this test may use, so that parallel tests on other loopback addresses are left
alone). And after each block: it left nothing outside build/, where a clone's .gitignore keeps
build output, so a reader's clone stays clean.
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


def make_scratch(source_dir, build_dirs):
    """build_dirs: {name under build/: folder it links to}."""
    scratch = tempfile.mkdtemp(prefix="vexil-guide-")
    for name in os.listdir(source_dir):
        if name in ("build", ".git"):
            continue
        os.symlink(os.path.join(source_dir, name), os.path.join(scratch, name))
    os.mkdir(os.path.join(scratch, "build"))
    for name, folder in build_dirs.items():
        os.symlink(os.path.abspath(folder), os.path.join(scratch, "build", name))
    return scratch


def entries_outside_build(scratch, source_dir):
    """Top-level entries of the scratch folder that are neither build/ nor a link to the clone."""
    return sorted(name for name in os.listdir(scratch)
                  if name != "build" and not (os.path.islink(os.path.join(scratch, name))
                                              and os.path.exists(os.path.join(source_dir, name))))


def run_block(scratch, line_number, body):
    """Runs one block; returns its exit status (124 when it ran out of time)."""
    script = f"set -eu\n{body}\n"
    process = subprocess.Popen(["bash", "--norc", "--noprofile", "-c", script], cwd=scratch,
                               stdin=subprocess.DEVNULL, start_new_session=True)
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


SKIPPED = 77


def main(argv):
    arch = None
    if len(argv) > 2 and argv[1] == "--arch":
        arch = argv[2]
        argv = argv[:1] + argv[3:]
    if len(argv) != 6:
        print(__doc__)
        return 2
    guide, source_dir, native_dir, x86_dir, x64_dir = argv[1:]
    if arch is not None:
        chosen = subprocess.run([os.path.join(source_dir, "scripts", "arch-probe")],
                                check=True, capture_output=True, text=True).stdout.strip()
        if chosen != arch:
            print(f"the guide's blocks run on {chosen} on this machine (scripts/arch-probe), not "
                  f"in this {arch} build: skipped")
            return SKIPPED
        print(f"the guide's blocks run on {arch} (scripts/arch-probe)")
    with open(guide, encoding="utf-8") as f:
        blocks = runnable_blocks(f.read())
    problems = [p for number, body in blocks for p in address_problems(number, body)]
    if not blocks:
        problems.append("no runnable blocks found (marker: " + MARKER + ")")
    if problems:
        print("\n".join(problems))
        return 1

    scratch = make_scratch(source_dir, {"native": native_dir, "mingw-x86": x86_dir,
                                        "mingw-x64": x64_dir})
    try:
        for number, body in blocks:
            print(f"== block at line {number}", flush=True)
            status = run_block(scratch, number, body)
            if status != 0:
                print(f"block at line {number} failed with status {status}:\n{body}")
                return 1
            stray = entries_outside_build(scratch, source_dir)
            if stray:
                print(f"block at line {number} left {', '.join(stray)} outside build/: a reader's "
                      "clone would show it as untracked")
                return 1
        print(f"== all {len(blocks)} runnable blocks passed")
        return 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
