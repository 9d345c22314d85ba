#!/usr/bin/env python3
"""Tests of tools/check-layers.py on the small tree beside this file: it must
name exactly the includes that pass a link by, and pass the clean tree."""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOP = HERE.parents[2]
CHECKER = TOP / "tools" / "check-layers.py"
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")

FAULTS = [
    "peeker: faults/Peeker.cpp includes hidden/Hidden.h (owned by hidden, not linked)",
    "stray: faults/Stray.cpp includes middle/Middle.h (owned by middle, not linked)",
    "stray: faults/Stray.cpp includes orphan/Orphan.h (owned by no target, not linked)",
    "stray: faults/Stray.h includes app/Helper.h (owned by app, not linked)",
]


def configure(build, faults):
    # Configured once only, like a fresh clone: the check has to ask CMake
    # again for the code model itself.
    subprocess.run([CMAKE, "-S", str(HERE / "fixture"), "-B", str(build), f"-DLAYERS_MODULE={TOP}/tools/layers.cmake",
                    f"-DLAYERS_FAULTS={'ON' if faults else 'OFF'}"], check=True, stdout=subprocess.DEVNULL)


def check(build, *args):
    done = subprocess.run([sys.executable, str(CHECKER), str(build), *args], capture_output=True, text=True)
    return done.returncode, done.stdout.splitlines()


class CheckLayersTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.clean = Path(cls.folder.name) / "clean"
        cls.faulty = Path(cls.folder.name) / "faulty"
        configure(cls.clean, faults=False)
        configure(cls.faulty, faults=True)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_links_passed_on_own_folder_and_links_from_other_folders_pass(self):
        code, out = check(self.clean)
        self.assertEqual(code, 0, out)
        self.assertEqual(len(out), 1)
        self.assertRegex(out[0], r"^check-layers: 6 targets, 13 files checked, every include follows a link$")

    def test_each_include_past_the_links_is_named_and_fails(self):
        code, out = check(self.faulty)
        self.assertEqual(code, 1)
        self.assertEqual(out, FAULTS)

    def test_known_list_accepts_only_what_it_names_and_must_not_go_stale(self):
        def without_owners(line):
            return line.split(" (owned by ")[0]

        stale = "app: app/main.cpp includes hidden/Hidden.h"
        cases = [
            ("every fault known", FAULTS, 0, []),
            ("one fault not known", FAULTS[1:], 1, FAULTS[:1]),
            ("an entry no longer found", FAULTS + [stale], 1,
             [stale + " (listed as known, no longer found: take it off the list)"]),
            ("an entry of a target this build leaves out", FAULTS + ["gone: gone/Gone.cpp includes base/Base.h"], 0, []),
        ]
        for name, known, expected_code, expected_lines in cases:
            with self.subTest(name), tempfile.NamedTemporaryFile("w", suffix=".txt") as listing:
                listing.write("# accepted for now\n")
                listing.writelines(without_owners(line) + "\n" for line in known)
                listing.flush()
                code, out = check(self.faulty, "--known", listing.name)
                self.assertEqual(code, expected_code, out)
                if expected_code:
                    self.assertEqual(out, expected_lines)
                else:
                    self.assertRegex(out[0], r", 4 known exceptions$")

    def test_a_folder_never_configured_is_an_error_not_a_pass(self):
        with tempfile.TemporaryDirectory() as empty:
            code, _ = check(empty)
        self.assertEqual(code, 2)


if __name__ == "__main__":
    unittest.main()
