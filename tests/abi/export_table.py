#!/usr/bin/env python3
"""The export table of a built Windows DLL against a recorded baseline, read with objdump:

    export_table.py --objdump OBJDUMP --dll PATH --baseline FILE [--update]

Each export is a line "NAME = ordinal N", or "by ordinal N = no name" for one exported by
ordinal alone (Zoth.dll's), in the order of the ordinals. A host that imports by name or by ordinal finds every export of the
baseline where it was; a new export is a compatible addition. Compared as interface_baseline.py
says; --update rewrites the baseline instead.
"""
import os
import re
import sys

import interface_baseline

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "host"))
import dll_linkage_check  # noqa: E402  (the objdump -p parsing the linkage check uses)


def exports(dump):
    """{key: value} of every entry of the export address table, named where it has a name."""
    by_ordinal = {ordinal: name for name, ordinal in
                  dll_linkage_check.exported_ordinals(dump).items()}
    record = {}
    for match in re.finditer(r"^\s*\[\s*\d+\] \+base\[\s*(\d+)\]\s+[0-9a-fA-F]+ Export RVA", dump,
                             re.MULTILINE):
        ordinal = int(match.group(1))
        if ordinal in by_ordinal:
            record[by_ordinal[ordinal]] = f"ordinal {ordinal}"
        else:
            record[f"by ordinal {ordinal}"] = "no name"
    return record


def main():
    args = interface_baseline.arguments("--objdump", "--dll")
    record = exports(dll_linkage_check.dump_of(args.objdump, args.dll))
    name = os.path.basename(args.dll)
    header = (f"The exports of {name} that hosts rely on, by name and ordinal, on every "
              "Windows architecture.\n"
              "Written by tests/abi/export_table.py --update (scripts/abi-baseline); see "
              "docs/compatibility.md.")
    return interface_baseline.check_or_update(f"{name} exports ({args.dll})", record,
                                              args.baseline, header, args.update)


if __name__ == "__main__":
    sys.exit(main())
