#!/usr/bin/env python3
"""Measures for bench/ocr_bench.sh (standard library only).

  ocr_measure.py score TRUTH_DIR TEXT_FILE [--terms TERM,TERM,...]
      Compares a document's text with the lines printed on its pages (TRUTH_DIR/000001.txt, ...,
      as make_pages writes them). TEXT_FILE holds the pages' text, a form feed after each page,
      as pdftotext writes it. Prints one JSON object:
        cer           character errors: edit distance over the whole document, both texts in
                      Unicode NFKC (full-width forms as their plain ones) with every blank and
                      line break removed, over the printed characters
        page_cer      the same per page: [page, printed characters, CER] for each page
        worst_page    the page of at least 100 printed characters with the highest CER, as in
                      page_cer (null when there is none); pages_100 counts those pages,
                      pages_over_3 those above 3 %
        blanks        blanks between two Chinese characters, summed over the pages (a run of
                      blanks counts once); blanks_max is the most on one page, blanks_printed the
                      printed text's own
        lines_whole   printed lines read whole: equal, blanks aside, to one line of the same page
                      (each line read counts for one printed line at most)
        lines_printed, lines_read   non-empty lines printed and read
        terms         with --terms: {TERM: [found, printed]}, the occurrences a search of each
                      line finds, as the text stands (a term split by a line break or a blank is
                      not found, and one split by a printed line break is not counted as printed);
                      per page, found counts at most as many as were printed there
        terms_found, terms_printed   their sums; terms_split the occurrences printed across a
                      line break, counted in neither
  ocr_measure.py watch OUT.json -- COMMAND...
      Runs COMMAND under /usr/bin/time -v and samples the resident memory of its whole process
      tree every 100 ms. Writes wall and CPU seconds, the largest single process's peak RSS (what
      time -v reports) and the tree's sampled peak (sum over processes alive at once), in MB.
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unicodedata

# Chinese characters: CJK ideographs (with extension A and the compatibility block) and CJK or
# full-width punctuation. The ideographic space U+3000 is a blank, not a character.
CHINESE = "\u3001-\u303f\u3400-\u4dbf\u4e00-\u9fff\uf900-\ufaff\uff01-\uff0f\uff1a-\uff20" \
          "\uff3b-\uff40\uff5b-\uff65"
BLANKS_BETWEEN = re.compile(f"(?<=[{CHINESE}])[ \\t\u00a0\u3000]+(?=[{CHINESE}])")
WHITESPACE = re.compile(r"\s+")


def edit_distance(a, b):
    """Levenshtein distance, bit-parallel over a (Myers, Hyyro): one pass over b with Python
    integers as bit vectors, so whole documents of 50 000 characters take about a second."""
    if not a:
        return len(b)
    m = len(a)
    mask = (1 << m) - 1
    high = 1 << (m - 1)
    peq = {}
    for i, c in enumerate(a):
        peq[c] = peq.get(c, 0) | (1 << i)
    pv, mv, score = mask, 0, m
    for c in b:
        eq = peq.get(c, 0)
        xv = eq | mv
        xh = ((((eq & pv) + pv) & mask) ^ pv) | eq
        ph = mv | (~(xh | pv) & mask)
        mh = pv & xh
        if ph & high:
            score += 1
        elif mh & high:
            score -= 1
        ph = ((ph << 1) | 1) & mask
        mh = (mh << 1) & mask
        pv = mh | (~(xv | ph) & mask)
        mv = ph & xv
    return score


def truth_pages(folder):
    names = sorted(n for n in os.listdir(folder) if re.fullmatch(r"\d{6}\.txt", n))
    return [open(os.path.join(folder, n), encoding="utf-8").read() for n in names]


def read_pages(path, count):
    text = open(path, encoding="utf-8", errors="replace").read()
    pages = text.split("\f")
    if pages and pages[-1].strip() == "":
        pages.pop()
    return (pages + [""] * count)[:count] if len(pages) < count else pages


def normal(text):
    """What CER compares: NFKC, so that a full-width comma and its plain form are one character,
    without blanks and line breaks, which a reader places as it likes."""
    return WHITESPACE.sub("", unicodedata.normalize("NFKC", text))


def term_counts(truth, read, terms):
    counts, split = {}, 0
    for term in terms:
        found = printed = 0
        for t, r in zip(truth, read):
            here = sum(line.count(term) for line in t.splitlines())
            printed += here
            found += min(here, sum(line.count(term) for line in r.splitlines()))
            split += "".join(t.splitlines()).count(term) - here
        counts[term] = [found, printed]
    return counts, split


def lines(page):
    return [s.strip() for s in page.splitlines() if s.strip()]


def score(truth_dir, text_file, terms=()):
    truth = truth_pages(truth_dir)
    read = read_pages(text_file, len(truth))
    printed = normal("".join(truth))
    got = normal("".join(read))
    page_cer = []
    for number, (t, r) in enumerate(zip(truth, read), 1):
        t, r = normal(t), normal(r)
        page_cer.append([number, len(t), edit_distance(t, r) / max(1, len(t))])
    long_pages = [p for p in page_cer if p[1] >= 100]
    counts, split = term_counts(truth, read, terms)
    blanks = [len(BLANKS_BETWEEN.findall(p)) for p in read]
    whole = 0
    for t, r in zip(truth, read):
        pool = {}
        for line in lines(r):
            key = WHITESPACE.sub("", line)
            pool[key] = pool.get(key, 0) + 1
        for line in lines(t):
            key = WHITESPACE.sub("", line)
            if pool.get(key, 0):
                pool[key] -= 1
                whole += 1
    return {
        "pages": len(truth), "pages_read": len(read),
        "cer": edit_distance(printed, got) / max(1, len(printed)), "chars_printed": len(printed),
        "chars_read": len(got), "page_cer": page_cer,
        "worst_page": max(long_pages, key=lambda p: p[2], default=None),
        "pages_100": len(long_pages), "pages_over_3": sum(p[2] > 0.03 for p in long_pages),
        "blanks": sum(blanks), "blanks_max": max(blanks, default=0),
        "blanks_printed": sum(len(BLANKS_BETWEEN.findall(p)) for p in truth),
        "lines_whole": whole, "lines_printed": sum(len(lines(t)) for t in truth),
        "lines_read": sum(len(lines(r)) for r in read),
        "terms": counts, "terms_found": sum(c[0] for c in counts.values()),
        "terms_printed": sum(c[1] for c in counts.values()), "terms_split": split,
    }


def tree_rss(root):
    """Resident memory in bytes of root and its descendants, from /proc."""
    children, rss = {}, {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(pid))
            rss[int(pid)] = int(fields[21]) * os.sysconf("SC_PAGE_SIZE")
        except (OSError, IndexError):
            pass
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo.extend(children.get(pid, []))
    return total


def watch(out, command):
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        child = subprocess.Popen(["/usr/bin/time", "-v", "-o", report.name] + command,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        peak = 0
        while child.poll() is None:
            peak = max(peak, tree_rss(child.pid))
            time.sleep(0.1)
        fields = dict(line.strip().rsplit(": ", 1) for line in report if ": " in line)
    clock = [float(x) for x in fields["Elapsed (wall clock) time (h:mm:ss or m:ss)"].split(":")]
    wall = sum(v * 60 ** i for i, v in enumerate(reversed(clock)))
    result = {
        "status": child.returncode, "wall": wall,
        "cpu": float(fields["User time (seconds)"]) + float(fields["System time (seconds)"]),
        "rss_max": int(fields["Maximum resident set size (kbytes)"]) / 1024,
        "rss_tree": peak / 2**20,
    }
    json.dump(result, open(out, "w"))
    if child.returncode:
        sys.exit(f"ocr_measure: {' '.join(command)} ended with status {child.returncode}")


def main(argv):
    if len(argv) == 3 and argv[0] == "score":
        print(json.dumps(score(argv[1], argv[2]), ensure_ascii=False))
    elif len(argv) == 5 and argv[0] == "score" and argv[3] == "--terms":
        terms = [t for t in argv[4].split(",") if t]
        print(json.dumps(score(argv[1], argv[2], terms), ensure_ascii=False))
    elif len(argv) >= 4 and argv[0] == "watch" and argv[2] == "--":
        watch(argv[1], argv[3:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
