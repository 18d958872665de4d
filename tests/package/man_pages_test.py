# The manual pages as man shows them: free of formatting warnings, and each
# program's page names exactly the options its --help names; every key that
# shop.ini(5) documents is one the service knows.

import os
import re
import subprocess
import sys
import tempfile
import unittest

MAN_DIR = ""
PROGRAMS = {}  # page file name -> program
SERVER = ""
OPTION = re.compile(r"(?<![\w-])--?[A-Za-z][\w-]*")


# The page as man prints it, on lines wide enough never to break a word.
def rendered(page):
    result = subprocess.run(["man", "--warnings", "-l", os.path.join(MAN_DIR, page)],
                            capture_output=True, text=True, env=dict(os.environ, MANWIDTH="400"))
    return result.stdout, result.stderr


class ManPages(unittest.TestCase):
    def test_every_page_formats_without_warnings(self):
        pages = [p for p in sorted(os.listdir(MAN_DIR)) if re.search(r"\.[158]$", p)]
        self.assertEqual(len(pages), 5, pages)
        for page in pages:
            with self.subTest(page=page):
                text, warnings = rendered(page)
                self.assertEqual(warnings, "")
                self.assertIn("NAME", text)

    def test_each_program_and_its_page_name_the_same_options(self):
        for page, program in PROGRAMS.items():
            with self.subTest(page=page):
                usage = subprocess.run([program, "--help"], capture_output=True, text=True,
                                       timeout=30)
                self.assertEqual(usage.returncode, 0, usage.stderr)
                in_help = set(OPTION.findall(usage.stdout))
                self.assertIn("--help", in_help)
                described = rendered(page)[0].split("\nEXAMPLES")[0]
                self.assertEqual(set(OPTION.findall(described)), in_help)

    def test_every_documented_key_is_known_to_the_service(self):
        text = rendered("shop.ini.5")[0]
        bounds = ["THE SERVICE SECTION", "THE WEB SECTION", "A MACHINE'S SECTION", "EXAMPLE"]
        ini = ""
        for n, name in enumerate(("service", "web", "mill")):
            part = text[text.index(bounds[n]):text.index(bounds[n + 1])]
            keys = [k for pair in re.findall(r"^ +([\w-]+)(?: \.\.\. ([\w-]+))? = ", part, re.M)
                    for k in pair if k]
            ini += "[%s]\n" % name + "".join("%s = ?\n" % k for k in keys)
        self.assertEqual(ini.count("\n"), 24, ini)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "shop.ini")
            with open(path, "w") as f:
                f.write(ini)
            check = subprocess.run([SERVER, "--config", path, "--check"], capture_output=True,
                                   text=True, timeout=30)
        self.assertNotIn("unknown key", check.stderr)
        self.assertIn("[mill] port", check.stderr)

if __name__ == "__main__":
    args = sys.argv[1:]
    MAN_DIR, SERVER = args[0], args[1]
    PROGRAMS = dict(a.split("=", 1) for a in args[2:])
    unittest.main(argv=sys.argv[:1])
