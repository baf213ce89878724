#!/usr/bin/env python3
"""Tests of the include-rule check on small trees made here: a tree that keeps the rules passes,
and each kind of breach is reported with its file, its line and the include at fault."""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_layers  # noqa: E402

# A tree that keeps every rule: each room includes itself and what lies below it, the gates
# include the system headers, and the entry point includes the Windows gate.
SOUND = {
    "src/sync/win32.h": "#include <winsock2.h>\n#include <windows.h>\n",
    "src/sync/check.cc": '#include "sync/check.h"\n#include "sync/win32.h"\n',
    "src/util/strings.cc": '#include "util/strings.h"\n#include "sync/check.h"\n',
    "src/zoth/zoth.cc": '#include "util/byte_buffer.h"\n',
    "src/orvel/frame.cc": '#include "orvel/frame.h"\n#include "util/buffer_ptr.h"\n',
    "src/log/conn_log.cc": '#include "log/conn_log.h"\n#include "sync/code_page.h"\n',
    "src/agent/sinks.cc": '#include "orvel/messages.h"\n#include "vexilconn/vexilconn.h"\n',
    "src/net/socket_types.h": '#include <sys/socket.h>\n#include <netinet/in.h>\n'
                              '#include <arpa/inet.h>\n#include "sync/win32.h"\n',
    "src/net/socket.cc": '#include "net/socket_types.h"\n#include "orvel/frame.h"\n'
                         "#include <poll.h>\n",
    "src/host/agent_connector.cc": '#include "agent/sinks.h"\n#include "log/conn_log.h"\n'
                                   '#include "net/socket.h"\n',
    "src/host/vexil_conn.cc": '#ifdef _WIN32\n#include "sync/win32.h"\n#endif\n',
    "src/uncalled/sync/event.cc": '#include "uncalled/sync/event.h"\n#include "net/socket.h"\n'
                                  '#include "sync/win32.h"\n',
    "src/host/notes.txt": '#include "uncalled/not/a/source.h"\n',
}


def make_tree(root, files):
    for relative, text in files.items():
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)


class CheckLayersTest(unittest.TestCase):
    def problems_with(self, extra):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, {**SOUND, **extra})
            return check_layers.problems_in(root)

    def test_a_tree_that_keeps_the_rules_passes(self):
        self.assertEqual(self.problems_with({}), [])

    def test_each_breach_names_its_file_line_and_include(self):
        cases = {
            "a lower room reaching up": (
                "src/util/char_buffer.cc", '#include "util/char_buffer.h"\n#include "net/socket.h"\n',
                'src/util/char_buffer.cc:2: util may not include "net/socket.h"'),
            "a sibling": (
                "src/agent/handler.cc", '#include "agent/handler.h"\n\n#include "log/conn_log.h"\n',
                'src/agent/handler.cc:3: agent may not include "log/conn_log.h"'),
            "the uncalled room, from the connector": (
                "src/host/worker.cc", '#include "uncalled/sync/event.h"\n',
                'src/host/worker.cc:1: host may not include "uncalled/sync/event.h"'),
            "the public header below agent": (
                "src/orvel/codec.cc", '  #  include "vexilconn/vexilconn.h"\n',
                'src/orvel/codec.cc:1: orvel may not include "vexilconn/vexilconn.h"'),
            "a header without its room": (
                "src/net/transfer.cc", '#include "transfer.h"\n',
                'src/net/transfer.cc:1: "transfer.h" names no room'),
            "<windows.h> past its gate": (
                "src/log/console_win.cc", "#include <windows.h>\n",
                'src/log/console_win.cc:1: <windows.h> directly: include "sync/win32.h"'),
            "<winsock2.h> past its gate": (
                "src/net/socket_win.cc", "#include <winsock2.h>\n",
                'src/net/socket_win.cc:1: <winsock2.h> directly: include "sync/win32.h"'),
            "a socket header past its gate": (
                "src/net/peer_posix.cc", "#include <fcntl.h>\n#include <sys/socket.h>\n",
                'src/net/peer_posix.cc:2: <sys/socket.h> directly: include "net/socket_types.h"'),
            "the Windows API outside the platform rooms": (
                "src/orvel/ole.cc", '#include "orvel/ole.h"\n#include "sync/win32.h"\n',
                'src/orvel/ole.cc:2: "sync/win32.h" outside the rooms that make platform calls'),
            "the Windows API in the host beside the entry point": (
                "src/host/worker_win.cc", '#include "sync/win32.h"\n',
                'src/host/worker_win.cc:1: "sync/win32.h" outside the rooms'),
            "a room the table does not know": (
                "src/platform/text.cc", '#include "sync/check.h"\n',
                "src/platform/text.cc:1: room 'platform' is not in the layering table"),
        }
        for name, (relative, text, expected) in cases.items():
            found = self.problems_with({relative: text})
            self.assertEqual(len(found), 1, f"{name}: {found}")
            self.assertTrue(found[0].startswith(expected), f"{name}: {found[0]}")

    def test_every_breach_of_a_file_is_reported(self):
        found = self.problems_with({
            "src/sync/lock.cc": '#include "util/strings.h"\n#include "log/conn_log.h"\n'})
        self.assertEqual([line.split(": ")[0] for line in found],
                         ["src/sync/lock.cc:1", "src/sync/lock.cc:2"])

    def test_the_program_fails_with_the_breaches_and_passes_without(self):
        script = os.path.join(HERE, "check_layers.py")
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, {**SOUND, "src/zoth/zoth_buffer.cc": '#include "sync/check.h"\n'})
            run = subprocess.run([sys.executable, script, root], capture_output=True, text=True,
                                 timeout=60)
            self.assertEqual(run.returncode, 1, run.stdout)
            self.assertIn('src/zoth/zoth_buffer.cc:1: zoth may not include "sync/check.h"',
                          run.stdout)
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, SOUND)
            run = subprocess.run([sys.executable, script, root], capture_output=True, text=True,
                                 timeout=60)
            self.assertEqual(run.returncode, 0, run.stdout)


if __name__ == "__main__":
    unittest.main()
