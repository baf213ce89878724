#!/usr/bin/env python3
"""Checks the include rules of the library's rooms (the folders of src/), reading files only:

    check_layers.py SOURCE_ROOT

- a file of one room includes headers of its own room and of the rooms listed for it in ROOMS
  below, nothing else (a room's headers are "room/name.h"; the public header is "vexilconn/...");
- <windows.h> and <winsock2.h> are included by sync/win32.h alone, and the POSIX socket headers
  by net/socket_types.h alone: everything else reaches them through these two gates;
- sync/win32.h, and with it the Windows API, is included only in the rooms that make platform
  calls (sync, net, log, uncalled) and in the library's entry point, host/vexil_conn.cc.

Every breach is printed as "FILE:LINE: what is wrong", and the exit status is 1. A room not in
ROOMS is a breach too: a new room gets its line here, and in docs/architecture.md, on purpose.
"""
import os
import re
import sys

# What each room may include besides itself, from the bottom up. Siblings (zoth, orvel and log;
# agent and net) do not include one another. Nothing includes uncalled.
ROOMS = {
    "sync": set(),
    "util": {"sync"},
    "zoth": {"util"},
    "orvel": {"sync", "util"},
    "log": {"sync", "util"},
    "agent": {"sync", "orvel", "vexilconn"},
    "net": {"sync", "util", "orvel"},
    "host": {"sync", "util", "orvel", "log", "agent", "net", "vexilconn"},
    "uncalled": {"sync", "util", "orvel", "net"},
}

# The public header's folder (include/vexilconn): not a room of src/, but included as one.
PUBLIC = "vexilconn"

# System headers and the one file of src/ that may include each.
GATED = {
    "windows.h": "sync/win32.h",
    "winsock2.h": "sync/win32.h",
    "sys/socket.h": "net/socket_types.h",
    "netinet/in.h": "net/socket_types.h",
    "arpa/inet.h": "net/socket_types.h",
}

# The Windows API gate, and where platform calls may be made.
WIN32_GATE = "sync/win32.h"
PLATFORM_ROOMS = {"sync", "net", "log", "uncalled"}
ENTRY_POINT = "host/vexil_conn.cc"

SOURCE_SUFFIXES = (".h", ".cc", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def includes_of(path):
    """(line number, quoted or angled, header) for each #include line of the file."""
    with open(path, encoding="utf-8", errors="replace") as source:
        for number, line in enumerate(source, 1):
            match = INCLUDE.match(line)
            if match:
                yield number, match.group(1) == '"', match.group(2)


def allowed_text(room):
    return ", ".join(sorted(ROOMS[room] | {room})) if room in ROOMS else "nothing"


def problems_in(source_root):
    """Every breach under SOURCE_ROOT/src, as "src/...:LINE: text", in file order."""
    src = os.path.join(source_root, "src")
    problems = []
    for folder, folders, files in os.walk(src):
        folders.sort()
        for name in sorted(files):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, src).replace(os.sep, "/")
            shown = "src/" + relative
            room = relative.split("/")[0] if "/" in relative else ""
            if room not in ROOMS:
                problems.append(f"{shown}:1: room '{room}' is not in the layering table "
                                "(tests/layering/check_layers.py, docs/architecture.md)")
                continue
            for number, quoted, header in includes_of(path):
                where = f"{shown}:{number}"
                if quoted:
                    if "/" not in header:
                        problems.append(f'{where}: "{header}" names no room: write "room/{header}"')
                        continue
                    target = header.split("/")[0]
                    if target != room and target not in ROOMS[room]:
                        problems.append(f'{where}: {room} may not include "{header}" '
                                        f"({room} may include {allowed_text(room)})")
                    if header == WIN32_GATE and room not in PLATFORM_ROOMS \
                            and relative != ENTRY_POINT:
                        problems.append(f'{where}: "{header}" outside the rooms that make '
                                        f"platform calls ({', '.join(sorted(PLATFORM_ROOMS))}) "
                                        f"and the entry point {ENTRY_POINT}")
                elif header in GATED and relative != GATED[header]:
                    problems.append(f"{where}: <{header}> directly: include "
                                    f'"{GATED[header]}" instead')
    return problems


def main(argv):
    if len(argv) != 2:
        print("usage: check_layers.py SOURCE_ROOT", file=sys.stderr)
        return 2
    problems = problems_in(argv[1])
    for problem in problems:
        print(problem)
    if problems:
        print(f"layering: {len(problems)} breach(es) of the include rules (docs/architecture.md)")
        return 1
    print("layering: every include of src/ keeps to the rooms' order and the gate headers")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
