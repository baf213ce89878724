#!/usr/bin/env python3
"""Tests of the DLL linkage check on objdump -p texts of the shape the MinGW binutils print: a
sound DLL passes, and each way a build can go wrong is reported."""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dll_linkage_check  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCES = os.path.join(HERE, "..", "..", "src", "host")
# The exports the library has today, as its module-definition file lists them.
WANTED = dll_linkage_check.exports_in_def(os.path.join(SOURCES, "VexilConn.def"))
ORDINALS = dll_linkage_check.ordinals_in_def(os.path.join(SOURCES, "VexilConn.def"))


def conn_dump(exports=WANTED, zoth_entry="\t80000009\t    9  <none>", extra_dll=None,
              ordinals=None):
    """objdump -p of VexilConn.dll; the exports under the ordinals given (ordinal base 1), by
    default those of VexilConn.def, else in the order of their names."""
    ordinals = ordinals or ORDINALS
    order = {name: i + 1 for i, name in enumerate(sorted(exports))}
    table = "".join(f"\t[{ordinals.get(name, order[name]) - 1:4}] {name}\n"
                    for name in sorted(exports))
    text = ("There is an import table in .idata at 0x6b4f3000\n\n"
            " 00050000\t00050078 00000000 00000000 00051554 00050590\n\n"
            "\tDLL Name: KERNEL32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n"
            "\t50aa8\t   20  AddVectoredExceptionHandler\n\t50ac6\t  141  CloseHandle\n\n"
            " 00050050\t00050580 00000000 00000000 000516f4 00050a98\n\n"
            "\tDLL Name: Zoth.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n"
            f"{zoth_entry}\n\n")
    if extra_dll:
        text += (f"\tDLL Name: {extra_dll}\n\tvma:  Hint/Ord Member-Name Bound-To\n"
                 "\t51300\t   12  _Unwind_Resume\n\n")
    return text + ("[Ordinal/Name Pointer] Table\n" + table + "\n"
                   "The Function Table (interpreted .pdata section contents)\n")


ZOTH = ("\tDLL Name: KERNEL32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n"
        "\t50aa8\t   20  HeapAlloc\n\n")


class LinkageCheckTest(unittest.TestCase):
    def test_a_sound_dll_passes_on_both_architectures(self):
        self.assertEqual(dll_linkage_check.problems_in(conn_dump(), ZOTH, WANTED, ORDINALS), [])
        sixty_four = conn_dump(zoth_entry="\t8000000000000009\t    000000009  <none>")
        self.assertEqual(dll_linkage_check.problems_in(sixty_four, ZOTH, WANTED, ORDINALS), [])

    def test_each_fault_is_reported(self):
        decorated = [name if name != "VexilRunConn" else "VexilRunConn@4" for name in WANTED]
        cases = {
            "decorated export": (conn_dump(exports=decorated), ZOTH, "exports"),
            "missing export": (conn_dump(exports=WANTED[:5]), ZOTH, "exports"),
            "moved ordinals": (conn_dump(ordinals={name: i + 1 for i, name in enumerate(WANTED)}),
                               ZOTH, "VexilGetStatus at ordinal 7, expected 6"),
            "Zoth by name": (conn_dump(zoth_entry="\t50b00\t    9  ZothCreateBuffer"), ZOTH,
                             "Zoth.dll"),
            "runtime DLL": (conn_dump(extra_dll="libgcc_s_dw2-1.dll"), ZOTH, "libgcc_s_dw2-1.dll"),
            "runtime DLL in Zoth": (conn_dump(), ZOTH.replace("KERNEL32", "libstdc++-6"),
                                    "libstdc++-6.dll"),
            "window manager": (conn_dump(extra_dll="USER32.dll"), ZOTH, "user32.dll"),
        }
        for name, (conn, zoth, mentioned) in cases.items():
            found = dll_linkage_check.problems_in(conn, zoth, WANTED, ORDINALS)
            self.assertEqual(len(found), 1, f"{name}: {found}")
            self.assertIn(mentioned, found[0], name)

    def test_the_dll_and_the_shared_object_export_the_same_names(self):
        with open(os.path.join(SOURCES, "libvexilconn.map")) as f:
            in_map = sorted(re.findall(r"^\s+(Vexil\w+);", f.read(), re.MULTILINE))
        self.assertEqual(WANTED, in_map)
        self.assertEqual(sorted(ORDINALS), WANTED, "every export has its ordinal")
        # The ordinals of the first twelve exports, and the one appended after them.
        self.assertEqual(ORDINALS["VexilGetStatus"], 6)
        self.assertEqual(ORDINALS["VexilStopConn"], 12)
        self.assertEqual(ORDINALS["VexilGetCounters"], 13)

    def test_a_dll_without_the_newest_export_is_reported(self):
        older = [name for name in WANTED if name != "VexilGetCounters"]
        found = dll_linkage_check.problems_in(conn_dump(exports=older), ZOTH, WANTED)
        self.assertEqual(len(found), 1, found)
        self.assertIn("VexilGetCounters", found[0])

    def test_the_ucrt_is_refused_with_the_reason(self):
        # Either form of the UCRT: the forwarders of the older toolchains, or the DLL itself.
        for dll in ("api-ms-win-crt-runtime-l1-1-0.dll", "ucrtbase.dll"):
            found = dll_linkage_check.problems_in(conn_dump(extra_dll=dll), ZOTH, WANTED)
            self.assertEqual(len(found), 1, f"{dll}: {found}")
            self.assertIn(dll, found[0])
            self.assertIn("_endthreadex", found[0])


if __name__ == "__main__":
    unittest.main()
