#!/usr/bin/env python3
"""Tests of bench/ocr_measure.py score: the character error rate after NFKC and without blanks,
the worst page, and the key terms a search finds."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ocr_measure  # noqa: E402

# A printed page of exactly 100 characters once blanks are gone: 20 lines of 截止阀波纹.
LONG = "".join("截止阀波纹\n" for _ in range(20))


def score(truth_pages, read_pages, terms=()):
    with tempfile.TemporaryDirectory() as folder:
        for number, text in enumerate(truth_pages, 1):
            with open(os.path.join(folder, f"{number:06d}.txt"), "w", encoding="utf-8") as f:
                f.write(text)
        read = os.path.join(folder, "read.text")
        with open(read, "w", encoding="utf-8") as f:
            f.write("".join(page + "\f" for page in read_pages))
        return ocr_measure.score(folder, read, terms)


class ScoreTest(unittest.TestCase):
    def test_character_errors(self):
        # (what, printed pages, pages read, errors, worst page, pages of >= 100 above 3 %)
        cases = [
            # Full-width and plain forms are one character after NFKC; blanks and line breaks,
            # ideographic ones too, are the reader's and not counted.
            ("NFKC", ["温度200℃，压力1.6MPa（表1）\n"], ["温度200°C,压力1.6MPa(表1)\n"], 0, None, 0),
            ("blanks", ["阀体 采用\n不锈钢\n"], ["阀体采用\u3000不 锈钢\n"], 0, None, 0),
            ("one wrong", ["阀体采用不锈钢\n"], ["闪体采用不锈钢\n"], 1, None, 0),
            # Only pages of 100 printed characters or more compete for the worst; the short page
            # with more errors does not.
            ("worst long page", [LONG, "阀杆\n", LONG], [LONG, "闪杆\n", LONG.replace("阀", "闪", 5)],
             6, 3, 1),
            ("long page within 3 %", [LONG], [LONG.replace("阀", "闪", 3)], 3, 1, 0),
            ("page missing", [LONG, "阀杆\n"], [LONG], 2, 1, 0),
        ]
        for what, truth, read, errors, worst, over in cases:
            with self.subTest(what):
                m = score(truth, read)
                self.assertAlmostEqual(m["cer"] * m["chars_printed"], errors)
                self.assertEqual(m["worst_page"] and m["worst_page"][0], worst)
                self.assertEqual(m["pages_over_3"], over)
                self.assertEqual(sum(p[1] >= 100 for p in m["page_cer"]), m["pages_100"])

    def test_key_terms(self):
        # (what, printed pages, pages read, {term: [found, printed]}, printed across a line break)
        cases = [
            ("found as printed", ["截止阀的阀杆\n阀杆\n"], ["截止阀的阀杆\n阀杆\n"],
             {"截止阀": [1, 1], "阀杆": [2, 2]}, 0),
            # A search does not find a term a line break or a blank splits in the text read.
            ("split in the text read", ["截止阀的阀杆\n"], ["截止\n阀的阀 杆\n"],
             {"截止阀": [0, 1], "阀杆": [0, 1]}, 0),
            # One a printed line break splits is printed but counts in neither figure.
            ("split in print", ["截止\n阀\n"], ["截止阀\n"], {"截止阀": [0, 0]}, 1),
            # More found on a page than printed there counts as many as printed, and a term
            # read on the wrong page is not found.
            ("found more than printed", ["阀杆\n", "阀体\n"], ["阀杆阀杆\n阀体\n", "阀杆\n"],
             {"阀杆": [1, 1], "阀体": [0, 1]}, 0),
        ]
        for what, truth, read, terms, split in cases:
            with self.subTest(what):
                m = score(truth, read, list(terms))
                self.assertEqual(m["terms"], terms)
                self.assertEqual(m["terms_split"], split)
                self.assertEqual(m["terms_found"], sum(c[0] for c in terms.values()))


if __name__ == "__main__":
    unittest.main()
