#!/usr/bin/python3
"""Tests of bench/unseen_pages.py: the same seed draws the same files; each page is an A4 300 dpi
bilevel Group 4 TIFF, white paper as a fax reader sees it, with speckle; its text file holds the
mix of lines the benchmark needs."""
import filecmp
import os
import re
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "unseen_pages.py")

try:
    from PIL import Image

    sys.path.insert(0, os.path.dirname(SCRIPT))
    import unseen_pages
except ImportError:
    Image = None


def draw(folder, *args):
    subprocess.run([sys.executable, SCRIPT, folder, "-n", "2", *args], check=True)
    return sorted(os.listdir(folder))


@unittest.skipIf(Image is None, "python3-pil is missing")
class UnseenPagesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.first = os.path.join(cls.tmp.name, "first")
        cls.names = draw(cls.first)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_seed_decides_the_bytes(self):
        self.assertEqual(self.names, ["000001.tif", "000001.txt", "000002.tif", "000002.txt"])
        again, other = (os.path.join(self.tmp.name, n) for n in ("again", "other"))
        draw(again)
        draw(other, "--seed", "7")
        for name in self.names:
            with self.subTest(name):
                a, b, c = (os.path.join(d, name) for d in (self.first, again, other))
                self.assertTrue(filecmp.cmp(a, b, shallow=False))
                self.assertFalse(filecmp.cmp(a, c, shallow=False))

    def test_page_image(self):
        for page in ("000001.tif", "000002.tif"):
            with self.subTest(page), Image.open(os.path.join(self.first, page)) as image:
                self.assertEqual(image.info["compression"], "group4")
                self.assertEqual(image.tag_v2[262], 0)  # min-is-white
                self.assertEqual((image.size, image.mode), ((2480, 3508), "1"))
                self.assertEqual(tuple(round(d) for d in image.info["dpi"]), (300, 300))
                gray = image.convert("L")
                # White paper with some ink, and speckle in the left margin, where no text is.
                ink = 1 - sum(gray.getdata()) / 255 / (2480 * 3508)
                self.assertTrue(0.005 < ink < 0.1, ink)
                margin = gray.crop((0, 0, 240, 3508))
                self.assertGreater(margin.histogram()[0], 20)

    def test_printed_lines(self):
        pages = []
        for name in ("000001.txt", "000002.txt"):
            with open(os.path.join(self.first, name), encoding="utf-8") as f:
                pages.append(f.read().splitlines())
        lines = [line for page in pages for line in page]
        text = "".join(lines)
        # (what the pages must hold, check)
        cases = [
            ("the numbered header first", all(re.fullmatch(rf"CN\d{{12}} 说明书 {n}/2", page[0])
                                              for n, page in enumerate(pages, 1))),
            ("several hundred characters a page",
             all(300 <= len("".join(page).replace(" ", "")) <= 1500 for page in pages)),
            ("Latin, digits and units", re.search(r"[A-Z]{2}", text) and re.search(r"\d+mm", text)),
            ("full-width punctuation", "，" in text and "。" in text and "（" in text),
            ("a short line", any(0 < len(line) <= 8 for line in lines[1:])),
        ]
        for what, ok in cases:
            with self.subTest(what):
                self.assertTrue(ok, "\n".join(lines))

    def test_line_breaks(self):
        # (what, text, characters a line holds, lines)
        cases = [
            ("as many as fit", "阀体阀盖阀杆", 4, ["阀体阀盖", "阀杆"]),
            ("a closing mark stays on the line above", "阀体阀盖，阀杆", 4, ["阀体阀", "盖，阀杆"]),
            ("a run of Latin and digits stays whole", "阀体DN50阀", 4, ["阀体", "DN50", "阀"]),
            ("unless it is wider than a line", "GB/T12235", 4, ["GB/T", "1223", "5"]),
        ]
        for what, text, width, lines in cases:
            with self.subTest(what):
                self.assertEqual(unseen_pages.wrap(text, lambda s: len(s) <= width), lines)

if __name__ == "__main__":
    unittest.main()
