#!/usr/bin/env python3
"""The baseline comparison, the export table's reading and libvexilconn.so's description, on
canned records, objdump text and abidiff statuses: what must fail fails with a line that says what
moved, what is compatible passes."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import export_table  # noqa: E402
import interface_baseline  # noqa: E402
import library_abi  # noqa: E402

BASELINE = interface_baseline.parse("""# a comment line
pointer size = 4
VexilHostCallbacks size = 40
VexilHostCallbacks.onOrder = 12
VexilConnCounters size = 136
vexil::HostCallback slot 0 = OnCheckRequest(int)
vexil::HostCallback slot 1 = OnOrder(char const*)
vexil::StatSink slot 0 = AddStat(unsigned int)
VexilInitConn = ordinal 7
""")


class CompareTest(unittest.TestCase):
    def test_the_same_record_passes_quietly(self):
        self.assertEqual(([], []), interface_baseline.compare(BASELINE, dict(BASELINE)))

    def test_what_breaks_a_built_host_is_incompatible_and_named(self):
        cases = {
            "a moved slot": ({"vexil::HostCallback slot 0": "OnOrder(char const*)",
                              "vexil::HostCallback slot 1": "OnCheckRequest(int)"},
                             "vexil::HostCallback slot 0: was OnCheckRequest(int), now "
                             "OnOrder(char const*)"),
            "a moved field": ({"VexilHostCallbacks.onOrder": "16"},
                              "VexilHostCallbacks.onOrder: was 12, now 16"),
            "a struct grown smaller": ({"VexilConnCounters size": "128"},
                                       "VexilConnCounters size: was 136, now 128"),
            "a changed ordinal": ({"VexilInitConn": "ordinal 14"},
                                  "VexilInitConn: was ordinal 7, now ordinal 14"),
            "a slot added to the host's interface": (
                {"vexil::HostCallback slot 2": "OnNew(int)"},
                "vexil::HostCallback slot 2: added (OnNew(int)), on an interface the host "
                "implements"),
        }
        for name, (changes, expected) in cases.items():
            with self.subTest(name):
                record = dict(BASELINE)
                record.update(changes)
                incompatible, _ = interface_baseline.compare(BASELINE, record)
                self.assertIn(expected, incompatible)

    def test_a_removed_export_is_incompatible(self):
        record = dict(BASELINE)
        del record["VexilInitConn"]
        incompatible, _ = interface_baseline.compare(BASELINE, record)
        self.assertEqual(["VexilInitConn: was ordinal 7, now gone"], incompatible)

    def test_additions_a_built_host_cannot_notice_are_compatible(self):
        record = dict(BASELINE)
        record.update({"VexilGetMore": "ordinal 14", "VexilConnCounters size": "144",
                       "VexilHostCallbacks size": "44", "vexil::StatSink slot 1": "AddMore()"})
        incompatible, additions = interface_baseline.compare(BASELINE, record)
        self.assertEqual([], incompatible)
        self.assertEqual(4, len(additions))

    def test_update_then_check_round_trips(self):
        path = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"baseline-{os.getpid()}.txt")
        try:
            self.assertEqual(0, interface_baseline.check_or_update("t", BASELINE, path,
                                                                   "header\nlines", True))
            self.assertEqual(0, interface_baseline.check_or_update("t", BASELINE, path, "", False))
            record = dict(BASELINE)
            record["VexilInitConn"] = "ordinal 8"
            self.assertEqual(1, interface_baseline.check_or_update("t", record, path, "", False))
        finally:
            os.remove(path)


# objdump -p of a DLL with two named exports and one by ordinal alone (base 1, ordinal 3 NONAME).
DUMP = """
Export Address Table -- Ordinal Base 1
\t[   0] +base[   1] 1650 Export RVA
\t[   1] +base[   2] 1660 Export RVA
\t[   2] +base[   3] 1670 Export RVA

[Ordinal/Name Pointer] Table
\t[   1] VexilGetStatus
\t[   0] VexilAddRegion

The Function Table (interpreted .pdata section contents)
"""


class ExportTableTest(unittest.TestCase):
    def test_names_ordinals_and_the_nameless_export_in_ordinal_order(self):
        self.assertEqual([("VexilAddRegion", "ordinal 1"), ("VexilGetStatus", "ordinal 2"),
                          ("by ordinal 3", "no name")],
                         list(export_table.exports(DUMP).items()))



class LibraryAbiTest(unittest.TestCase):
    def test_abidiff_status_decides_by_its_bits(self):
        # abidiff's status: 1 error, 2 usage error, 4 a change, 8 an incompatible change.
        cases = {0: (0, "as in the baseline"), 4: (0, "compatible changes"),
                 12: (1, "INCOMPATIBLE"), 1: (1, "could not compare"),
                 2: (1, "could not compare"), 6: (1, "could not compare")}
        for status, (expected, words) in cases.items():
            with self.subTest(status=status):
                result, line = library_abi.verdict(status)
                self.assertEqual(expected, result)
                self.assertIn(words, line)

    def test_every_interface_class_keeps_its_member_functions(self):
        # A class left out would lose its slots from the description, and a moved slot would
        # pass unseen.
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                               "include", "vexilconn", "vexilconn.h")) as f:
            classes = library_abi.interface_classes(f.read())
        self.assertEqual(["CountsSink", "HostCallback", "RegionExtraSink", "RegionSink",
                          "StatExtraSink", "StatSink"], classes)
        self.assertIn("name_not_regexp = ^(Vexil|vexil::(CountsSink|HostCallback|",
                      library_abi.suppressions(classes))

    def test_no_build_folder_in_the_description(self):
        text = ("<abi-instr address-size='64' path='/home/me/vexilconn/src/host/vexil_conn.cc'>"
                "<abi-instr address-size='64' path='./src/agent/reply_sinks.cc'>")
        self.assertEqual("<abi-instr address-size='64' path='src/host/vexil_conn.cc'>"
                         "<abi-instr address-size='64' path='src/agent/reply_sinks.cc'>",
                         library_abi.relative_paths(text, "/home/me/vexilconn"))


if __name__ == "__main__":
    unittest.main()
