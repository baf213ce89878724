#!/usr/bin/env python3
"""Tests of the guide-block runner: which blocks it takes, which addresses it refuses, and how it
runs them (order, each on its own, failure, time limit, files left outside build/)."""
import contextlib
import io
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_blocks  # noqa: E402


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split()[2] != "Z"
    except FileNotFoundError:
        return False


class ExtractionTest(unittest.TestCase):
    def test_takes_only_marked_blocks_in_order_with_their_first_line(self):
        text = ("intro\n"
                "```sh runnable\necho one\n```\n"
                "```sh\necho not run\n```\n"
                "```sh runnable-later\necho not run either\n```\n"
                "```cpp\nint x;\n```\n"
                "```sh runnable\necho two\necho three\n```\n")
        self.assertEqual(run_blocks.runnable_blocks(text),
                         [(3, "echo one\n"), (15, "echo two\necho three\n")])

    def test_unclosed_block_is_an_error(self):
        with self.assertRaises(ValueError):
            run_blocks.runnable_blocks("```sh runnable\necho one\n")


class AddressTest(unittest.TestCase):
    def test_only_the_reserved_loopback_range_passes(self):
        body = ("ha-agent --listen 127.0.0.120\n"
                "host -HAIP:127.0.0.139 -GSID:7 version 1.2.3\n")
        self.assertEqual(run_blocks.address_problems(10, body), [])
        for address in ("127.0.0.119", "127.0.0.140", "127.0.0.1", "10.0.0.1"):
            problems = run_blocks.address_problems(10, f"x\nconnect {address}\n")
            self.assertEqual(len(problems), 1, address)
            self.assertIn("line 11", problems[0])
            self.assertIn(address, problems[0])


class RunTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="run-blocks-test-")
        for name in ("source", "native", "x86", "x64"):
            os.mkdir(os.path.join(self.root, name))
        with open(os.path.join(self.root, "source", "marker.txt"), "w") as f:
            f.write("from the source tree\n")
        self.saved_limit = run_blocks.BLOCK_SECONDS

    def tearDown(self):
        run_blocks.BLOCK_SECONDS = self.saved_limit

    def run_guide(self, text):
        guide = os.path.join(self.root, "guide.md")
        with open(guide, "w") as f:
            f.write(text)
        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            status = run_blocks.main(["run_blocks.py", guide] +
                                     [os.path.join(self.root, name)
                                      for name in ("source", "native", "x86", "x64")])
        return status, output.getvalue()

    def test_each_block_starts_afresh_in_the_clone_layout(self):
        done = os.path.join(self.root, "done.txt")
        status, _ = self.run_guide(
            "```sh runnable\nexport GREETING=hello\nshout() { echo \"$1!\"; }\n```\n"
            "```sh runnable\n"
            "grep -q 'from the source tree' marker.txt\n"
            "[ -d build/mingw-x86 ] && [ -d build/mingw-x64 ] && [ -d build/native ]\n"
            "false | true   # a reader's shell has no pipefail\n"
            "type shout >/dev/null 2>&1 && exit 3\n"
            f"echo \"${{GREETING:-unset}}\" > {done}\n"
            "```\n")
        self.assertEqual(status, 0)
        with open(done) as f:
            self.assertEqual(f.read(), "unset\n")

    def test_a_file_left_outside_build_fails_the_run(self):
        status, output = self.run_guide(
            "```sh runnable\nmkdir -p build/guide && touch build/guide/kept\n```\n"
            "```sh runnable\ntouch stray.txt\n```\n")
        self.assertEqual(status, 1)
        self.assertIn("block at line 5 left stray.txt outside build/", output)

    def test_a_failing_command_fails_the_run_and_stops_it(self):
        after = os.path.join(self.root, "after.txt")
        status, output = self.run_guide(
            "```sh runnable\nfalse\necho still here\n```\n"
            f"```sh runnable\ntouch {after}\n```\n")
        self.assertEqual(status, 1)
        self.assertIn("block at line 2 failed", output)
        self.assertFalse(os.path.exists(after))

    def test_a_block_over_its_time_is_stopped_with_what_it_started(self):
        run_blocks.BLOCK_SECONDS = 1
        pid_file = os.path.join(self.root, "child.pid")
        started = time.monotonic()
        status, output = self.run_guide(
            f"```sh runnable\nsleep 60 &\necho $! > {pid_file}\nwait\n```\n")
        self.assertEqual(status, 1)
        self.assertLess(time.monotonic() - started, 30)
        self.assertIn("still running", output)
        with open(pid_file) as f:
            child = int(f.read())
        # The background sleep went with its block (gone, or a zombie nobody has reaped yet).
        for _ in range(100):
            if not alive(child):
                break
            time.sleep(0.05)
        else:
            self.fail("the block's background process survived the time limit")

    def test_a_guide_with_a_foreign_address_runs_nothing(self):
        ran = os.path.join(self.root, "ran.txt")
        status, output = self.run_guide(f"```sh runnable\ntouch {ran} # 127.0.0.1\n```\n")
        self.assertEqual(status, 1)
        self.assertIn("127.0.0.1", output)
        self.assertFalse(os.path.exists(ran))


if __name__ == "__main__":
    unittest.main()
