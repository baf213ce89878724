#!/usr/bin/env python3
"""The binary interface of a built libvexilconn.so against a recorded baseline, with libabigail:

    library_abi.py --library PATH --headers DIR --baseline FILE [--update]
                   [--abidw abidw] [--abidiff abidiff]

abidw describes the library from its debug information, limited to what a host meets: the
exported Vexil* functions and the types of the public header (DIR, include/vexilconn), the C++
interfaces' member functions included, so that their virtual slots are part of the description.
The description holds no build folder (paths are made relative to the source tree) and no version
beyond the soname. abidiff then compares the baseline with it; its status is a bit set: 1 an
error, 2 a usage error, 4 a change, 8 an incompatible change. An incompatible change fails with
abidiff's report; a compatible one (an added function) passes, shows the report and says so; no
change passes quietly. --update writes the description as the new baseline instead.

Why a suppression list and not --exported-interfaces-only: the exports pass vexil::HostCallback
by pointer only, so the debug information of their own file declares the class without its
virtual functions, and abidw's exported-only view would never see a slot move. Reading every type
and dropping every function but the exports and the public interfaces' members keeps the slots.
"""
import os
import re
import subprocess
import sys
import tempfile

import interface_baseline

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))

ABIDW_OPTIONS = ["--no-corpus-path", "--no-comp-dir-path", "--no-show-locs", "--no-elf-needed",
                 "--drop-undefined-syms", "--type-id-style", "hash", "--drop-private-types"]

# abidiff's status bits.
ERROR = 1
USAGE_ERROR = 2
CHANGE = 4
INCOMPATIBLE = 8


def interface_classes(header_text):
    """The classes of the public header, whose member functions a host calls or implements."""
    return sorted(set(re.findall(r"^class (\w+) \{", header_text, re.MULTILINE)))


def suppressions(classes):
    """A libabigail suppression list that keeps the exports and the classes' member functions
    and drops every other function and every variable."""
    kept = "^(Vexil|vexil::(" + "|".join(classes) + ")::)"
    return ("[suppress_function]\n"
            f"  name_not_regexp = {kept}\n"
            "  drop = yes\n"
            "[suppress_variable]\n"
            "  name_regexp = .*\n"
            "  drop = yes\n")


def relative_paths(description, source):
    """The description with the translation units' paths relative to the source tree (the
    release build writes them relative already, "./src/...")."""
    prefix = re.escape(source.rstrip("/") + "/")
    return re.sub(r"(<abi-instr [^>]*path=')(?:" + prefix + r"|\./)", r"\1", description)


def describe(abidw, library, headers, work):
    header = os.path.join(headers, "vexilconn.h")
    with open(header) as f:
        classes = interface_classes(f.read())
    suppression_file = os.path.join(work, "public.suppr")
    with open(suppression_file, "w") as f:
        f.write(suppressions(classes))
    try:
        result = subprocess.run([abidw, *ABIDW_OPTIONS, "--headers-dir", headers,
                                 "--suppressions", suppression_file, library],
                                capture_output=True, text=True)
    except FileNotFoundError:
        sys.exit(f"library_abi.py: {abidw} not found: install abigail-tools (scripts/setup)")
    if result.returncode != 0:
        sys.exit(f"library_abi.py: {abidw} failed on {library} (status {result.returncode}):\n"
                 f"{result.stderr}")
    return relative_paths(result.stdout, SOURCE)


def verdict(status):
    """(exit status, the line that says what abidiff's status means for a host)."""
    if status & (ERROR | USAGE_ERROR):
        return 1, f"abidiff could not compare (status {status})"
    if status & INCOMPATIBLE:
        return 1, ("INCOMPATIBLE with the baseline (above): a host built against it would "
                   "break. " + interface_baseline.INCOMPATIBLE_ADVICE)
    if status & CHANGE:
        return 0, ("compatible changes to the baseline (above): hosts built against it keep "
                   "working. " + interface_baseline.ADDITION_ADVICE)
    return 0, "as in the baseline"


def main():
    args = interface_baseline.arguments("--library", "--headers", abidw="abidw",
                                        abidiff="abidiff")
    name = os.path.basename(args.library)
    with tempfile.TemporaryDirectory() as work:
        current = describe(args.abidw, args.library, os.path.abspath(args.headers), work)
        if args.update:
            with open(args.baseline, "w") as f:
                f.write(current)
            print(f"{name} ABI: baseline {args.baseline} written")
            return 0
        current_file = os.path.join(work, "current.abi")
        with open(current_file, "w") as f:
            f.write(current)
        result = subprocess.run([args.abidiff, "--no-show-locs", args.baseline, current_file],
                                capture_output=True, text=True)
        status, line = verdict(result.returncode)
        if result.returncode != 0:
            sys.stdout.write(result.stdout + result.stderr)
        print(f"{name} ABI ({args.library}): {line}")
        return status


if __name__ == "__main__":
    sys.exit(main())
