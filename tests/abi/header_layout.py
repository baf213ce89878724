#!/usr/bin/env python3
"""The layouts of include/vexilconn/vexilconn.h that hosts rely on, for one compiler, against a
recorded baseline, without running anything the compiler makes:

    header_layout.py --cxx CXX --include DIR --baseline FILE [--update]

Compiles layout_probe.cc with CXX (g++, or a MinGW-w64 g++ for a Windows architecture) and reads
the object file with the binutils of the same prefix (objcopy, objdump): the sizes and field
offsets of VexilHostCallbacks and VexilConnCounters, and each C++ interface's functions slot by
slot. Compared as interface_baseline.py says; --update rewrites the baseline instead.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

import interface_baseline

HERE = os.path.dirname(os.path.abspath(__file__))


def tool(cxx, name):
    """The binutils program NAME of the compiler's target: x86_64-w64-mingw32-g++-posix gives
    x86_64-w64-mingw32-NAME, g++ plain NAME."""
    base = os.path.basename(cxx)
    match = re.match(r"(.*-)(?:g\+\+|c\+\+|clang\+\+)(?:-[\w.]+)?$", base)
    return (match.group(1) if match else "") + name


def section_bytes(cxx, obj, section, work):
    out = os.path.join(work, section.strip(".") + ".bin")
    subprocess.run([tool(cxx, "objcopy"), "-O", "binary", "-j", section, obj, out], check=True)
    with open(out, "rb") as f:
        return f.read()


def demangle(names):
    # Itanium mangling on every target here; a 32-bit Windows symbol carries one more underscore.
    names = [name[1:] if name.startswith("__Z") else name for name in names]
    result = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True, text=True,
                            check=True).stdout.splitlines()
    return dict(zip(names, result))


def slots(cxx, obj, pointer_size):
    """{"vexil::Interface slot N": function} from the relocations of the Slots classes' tables."""
    dump = subprocess.run([tool(cxx, "objdump"), "-r", obj], capture_output=True, text=True,
                          check=True).stdout
    tables = {}
    current = None
    for line in dump.splitlines():
        match = re.match(r"RELOCATION RECORDS FOR \[.*(_ZTVN5vexil\d+\w+SlotsE)\]", line)
        if match:
            current = tables.setdefault(match.group(1), [])
            continue
        if line.startswith("RELOCATION RECORDS"):
            current = None
            continue
        match = re.match(r"([0-9a-fA-F]+)\s+\S+\s+(\S+?)(?:[+-]0x[0-9a-fA-F]+)?$", line)
        if current is not None and match:
            current.append((int(match.group(1), 16), match.group(2)))
    names = demangle([name for entries in tables.values() for _, name in entries] +
                     list(tables))
    record = {}
    for table in sorted(tables, key=lambda t: names[t]):
        implementation = names[table].replace("vtable for ", "")
        interface = implementation[:-len("Slots")]
        short = implementation.split("::")[-1]
        for offset, name in sorted(tables[table]):
            slot = offset // pointer_size - 2  # after the offset to top and the type information
            if slot < 0:
                continue
            function = names[name[1:] if name.startswith("__Z") else name]
            function = function.replace(implementation + "::", "").replace(
                "~" + short, "~" + interface.split("::")[-1])
            record[f"{interface} slot {slot}"] = function
    return record


def layout(cxx, include):
    with tempfile.TemporaryDirectory() as work:
        obj = os.path.join(work, "layout_probe.o")
        subprocess.run([cxx, "-std=c++17", "-O0", "-c", "-I", include,
                        os.path.join(HERE, "layout_probe.cc"), "-o", obj], check=True)
        numbers_bytes = section_bytes(cxx, obj, ".vxlay", work)
        # Both sections may be padded with zero bytes to their alignment: as many numbers as
        # there are names count.
        names = [name for name in section_bytes(cxx, obj, ".vxname", work).split(b"\0") if name]
        numbers = struct.unpack(f"<{len(names)}I", numbers_bytes[:4 * len(names)])
        record = {name.decode(): str(number) for name, number in zip(names, numbers)}
        record.update(slots(cxx, obj, numbers[0]))
        return record


def main():
    args = interface_baseline.arguments("--cxx", "--include")
    record = layout(args.cxx, args.include)
    header = ("Layouts of include/vexilconn/vexilconn.h that hosts rely on, as "
              f"{os.path.basename(args.cxx)} lays them out.\n"
              "Written by tests/abi/header_layout.py --update (scripts/abi-baseline); see "
              "docs/compatibility.md.")
    return interface_baseline.check_or_update(
        f"header layout ({os.path.basename(args.cxx)})", record, args.baseline, header,
        args.update)


if __name__ == "__main__":
    sys.exit(main())
