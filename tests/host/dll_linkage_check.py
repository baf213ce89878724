#!/usr/bin/env python3
"""Checks what a built VexilConn.dll shows a loader, without running it:

    dll_linkage_check.py OBJDUMP BIN_DIR DEF_FILE

- VexilConn.dll exports exactly the names listed in DEF_FILE, undecorated (no leading underscore,
  no @N suffix), so GetProcAddress finds them by their plain names, each under the ordinal
  DEF_FILE gives it (a host that imports by ordinal finds every export where it was);
- it imports from Zoth.dll by ordinal 9 alone, no name;
- every other DLL it or Zoth.dll imports is a Windows system DLL: no MinGW runtime
  (libgcc_s, libstdc++, libwinpthread) may have to travel with it;
- VexilConn.dll imports no user32.dll: nothing of it shows a window or needs the window manager;
- VexilConn.dll imports no UCRT (ucrtbase.dll, api-ms-win-crt-*): its threads are started with
  msvcrt's _beginthreadex and end through FreeLibraryAndExitThread, never _endthreadex. The UCRT's
  _beginthreadex holds the module of the thread's start routine until _endthreadex, which these
  threads never reach, so the library would never unload; the thread code must be revisited
  before the build moves to the UCRT.
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "ws2_32.dll", "iphlpapi.dll",
               "msvcrt.dll", "ntdll.dll", "version.dll", "shell32.dll", "ole32.dll", "oleaut32.dll"}


def exported_ordinals(dump):
    """{name: ordinal} of the "[Ordinal/Name Pointer] Table" section of objdump -p, whose numbers
    count from the ordinal base."""
    base = re.search(r"Ordinal Base\s+(\d+)", dump)
    base = int(base.group(1)) if base else 1
    ordinals = {}
    lines = dump.split("\n")
    for i, line in enumerate(lines):
        if line.startswith("[Ordinal/Name Pointer] Table"):
            for entry in lines[i + 1:]:
                match = re.match(r"\s*\[\s*(\d+)\]\s+(\S+)", entry)
                if not match:
                    break
                ordinals[match.group(2)] = int(match.group(1)) + base
    return ordinals


def exported_names(dump):
    """The names of the "[Ordinal/Name Pointer] Table" section of objdump -p."""
    return list(exported_ordinals(dump))


def imports(dump):
    """{DLL name: [(hint or ordinal, name or None when imported by ordinal)]}."""
    table = {}
    current = None
    for line in dump.split("\n"):
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            current = table.setdefault(match.group(1), [])
            continue
        if current is None:
            continue
        match = re.match(r"\s*[0-9a-fA-F]+\s+(\d+)\s+(\S+)", line)
        if match:
            name = None if match.group(2) == "<none>" else match.group(2)
            current.append((int(match.group(1)), name))
        elif not line.strip() or not line.lstrip().startswith("vma:"):
            current = None
    return table


def dump_of(objdump, path):
    return subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                          text=True).stdout


def ordinals_in_def(def_file):
    """{name: ordinal} of a module-definition file's indented EXPORTS lines ("  Name @N")."""
    with open(def_file) as f:
        return {match.group(1): int(match.group(2)) for match in
                (re.match(r"  (\w+)\s+@(\d+)\s*$", line) for line in f) if match}


def exports_in_def(def_file):
    """The names a module-definition file exports (its indented EXPORTS lines)."""
    with open(def_file) as f:
        return sorted(line.split()[0] for line in f if line.startswith("  ") and line.strip())


def problems_in(conn_dump, zoth_dump, wanted, ordinals=None):
    """What is wrong in the objdump -p texts of VexilConn.dll and Zoth.dll, given the export names
    wanted and, when given, their ordinals ({name: ordinal}); an empty list when nothing is."""
    found = []
    names = sorted(exported_names(conn_dump))
    if names != sorted(wanted):
        found.append(f"VexilConn.dll exports {names}, expected exactly {sorted(wanted)}")
    elif ordinals:
        exported = exported_ordinals(conn_dump)
        moved = [f"{name} at ordinal {exported[name]}, expected {ordinal}"
                 for name, ordinal in sorted(ordinals.items()) if exported.get(name) != ordinal]
        if moved:
            found.append("VexilConn.dll exports " + "; ".join(moved))
    conn_imports = imports(conn_dump)
    zoth = {dll: entries for dll, entries in conn_imports.items() if dll.lower() == "zoth.dll"}
    if list(zoth.values()) != [[(9, None)]]:
        found.append(f"VexilConn.dll imports from Zoth.dll {zoth or 'nothing'}, expected ordinal 9 "
                     "alone")
    reported = set()
    for dll in conn_imports:
        name = dll.lower()
        reported.add(name)
        if name == "user32.dll":
            found.append("VexilConn.dll imports user32.dll: nothing of the library may need the "
                         "window manager")
        elif name == "ucrtbase.dll" or name.startswith("api-ms-win-crt-"):
            found.append(f"VexilConn.dll imports {dll}, the UCRT: its threads end through "
                         "FreeLibraryAndExitThread, never _endthreadex, and under the UCRT "
                         "_beginthreadex holds the library until _endthreadex, so it would never "
                         "unload; build against msvcrt or revisit sync/begin_thread.cc")
        else:
            reported.discard(name)
    for dll_file, table in (("VexilConn.dll", conn_imports), ("Zoth.dll", imports(zoth_dump))):
        for dll in table:
            name = dll.lower()
            if dll_file == "VexilConn.dll" and name in reported:
                continue
            if name not in SYSTEM_DLLS and name != "zoth.dll":
                found.append(f"{dll_file} imports {dll}, which is not a Windows system DLL")
    return found


def main(argv):
    if len(argv) != 4:
        print(__doc__)
        return 2
    objdump, bin_dir, def_file = argv[1:]
    wanted_names = exports_in_def(def_file)
    found = problems_in(dump_of(objdump, f"{bin_dir}/VexilConn.dll"),
                        dump_of(objdump, f"{bin_dir}/Zoth.dll"), wanted_names,
                        ordinals_in_def(def_file))
    for problem in found:
        print(problem)
    if not found:
        print(f"VexilConn.dll: {len(wanted_names)} undecorated exports at their ordinals, Zoth.dll "
              "by ordinal 9 only, system DLLs otherwise")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
