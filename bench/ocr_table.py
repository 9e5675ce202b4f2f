#!/usr/bin/env python3
"""The table of bench/ocr_bench.sh, with the goals beside the figures and a verdict per goal.

  ocr_table.py RESULTS "SETS" CORES FETCH_SET FETCH_ENGINE "DELAYS"
      RESULTS holds the JSON files ocr_bench.sh wrote: SET.ENGINE.text and SET.ENGINE.mupdf
      (ocr_measure.py score), SET.ENGINE.time (ocr_measure.py watch), fetch.* and load. An
      engine without files (the neural one, before the CLI offers it) shows "—".
"""
import json
import os
import sys

ENGINES = [("ours_neural", "ours, neural"), ("ours_tesseract", "ours, Tesseract chi_sim"),
           ("tesseract", "Tesseract alone"), ("ocrmypdf", "img2pdf + ocrmypdf -l chi_sim")]
OURS = ["ours_neural", "ours_tesseract"]
LABEL = {"sample": "sample, 12 pages", "fifty": "fifty, 50 pages", "unseen": "unseen"}
GOAL_CER, GOAL_CER_RATIO, GOAL_PAGE, GOAL_TERMS = 0.015, 0.4, 0.03, 0.95
GOAL_WALL, STRETCH_WALL, GOAL_MEMORY_MB = 1.0, 0.6, 1024


def main(results, sets, cores, fetch_set, fetch_engine, delays):
    def get(name):
        path = os.path.join(results, name)
        if not os.path.exists(path):
            return None
        text = open(path, encoding="utf-8").read()
        return json.loads(text) if text.lstrip().startswith("{") else text.strip()

    head = ["Measure", "Goal"] + [name for _, name in ENGINES]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))

    def row(measure, goal, cell):
        cells = [cell(engine) for engine, _ in ENGINES]
        print(f"| {measure} | {goal} | " + " | ".join(c or "—" for c in cells) + " |")

    def label(s):
        t = get(f"{s}.ours_tesseract.text")
        if s != "unseen" or not t:
            return LABEL[s]
        return f"unseen, {t['pages']} page{'s' if t['pages'] != 1 else ''}"

    def cer_cell(s, reader):
        def cell(engine):
            m = get(f"{s}.{engine}.{reader}")
            if not m:
                return None
            t = get(f"{s}.tesseract.text")
            ratio = f" ({m['cer'] / t['cer']:.2f}x)" if t and t["cer"] and engine in OURS else ""
            text = f"{100 * m['cer']:.2f} %{ratio}"
            if reader == "text" and m["worst_page"]:
                page, _, worst = m["worst_page"]
                text += (f"; worst {100 * worst:.1f} % (p. {page}); "
                         f"{m['pages_over_3']}/{m['pages_100']} above 3 %")
            return text
        return cell

    def time_cell(s):
        def cell(engine):
            t = get(f"{s}.{engine}.time")
            if not t:
                return None
            peer = get(f"{s}.ocrmypdf.time")
            ratio = f" ({t['wall'] / peer['wall']:.2f}x)" if peer and engine != "ocrmypdf" else ""
            return f"{t['wall']:.1f}{ratio}, {t['cpu']:.1f}, {t['rss_tree']:.0f}"
        return cell

    for s in sets:
        row(f"{label(s)}: character error rate, NFKC, blanks ignored: all pages (x Tesseract "
            f"alone's); worst page of ≥ 100 characters; such pages above 3 %",
            "≤ 1.5 % and ≤ 0.4x Tesseract alone's; no page above 3 %", cer_cell(s, "text"))
        row(f"{label(s)}: character error rate as mutool reads the PDF", "",
            cer_cell(s, "mupdf"))
        row(f"{label(s)}: key terms a search finds (found / printed)", "≥ 95 %",
            lambda e: (lambda m: m and f"{m['terms_found']}/{m['terms_printed']} "
                       f"({100 * m['terms_found'] / max(1, m['terms_printed']):.1f} %)")(
                get(f"{s}.{e}.text")))
        row(f"{label(s)}: wall (s) (x ocrmypdf's), CPU user + sys (s), peak memory of the "
            f"process tree (MB)", "wall ≤ 1.0x ocrmypdf's (0.6x stretch); ≤ 1 GB", time_cell(s))

    recog = get("fetch.recognition.time")
    for delay in delays:
        plain, ocr = (get(f"fetch.{delay}.{k}.time") for k in ("plain", "ocr"))
        both = plain["wall"] + recog["wall"]
        ft = get(f"fetch.{delay}.ocr.text")
        at = f"{LABEL[fetch_set]}, mirror {delay} ms an answer"
        only = lambda value: lambda e: value if e == fetch_engine else None
        row(f"fetch --ocr (s), {at}", "", only(f"{ocr['wall']:.1f}"))
        row(f"plain fetch + combine --ocr of its pages (s), {at}", "",
            only(f"{plain['wall']:.2f} + {recog['wall']:.1f} = {both:.1f}"))
        row(f"fetch --ocr / (plain fetch + recognition), {at}", "≤ 0.8",
            only(f"{ocr['wall'] / both:.2f}"))
        row(f"fetch --ocr text file: CER, key terms, {at}", "",
            only(f"{100 * ft['cer']:.2f} %, {ft['terms_found']}/{ft['terms_printed']}"))

    print()
    verdict = lambda ok: "met" if ok else "NOT met"
    for s in sets:
        tess = get(f"{s}.tesseract.text")
        peer = get(f"{s}.ocrmypdf.time")
        for engine, name in ENGINES:
            m, t = get(f"{s}.{engine}.text"), get(f"{s}.{engine}.time")
            if engine not in OURS or not m:
                continue
            terms = m["terms_found"] / max(1, m["terms_printed"])
            wall = t["wall"] / peer["wall"]
            print(f"Goals, {name}, {label(s)}: CER ≤ 1.5 % {verdict(m['cer'] <= GOAL_CER)}; "
                  f"≤ 0.4x Tesseract alone's {verdict(m['cer'] <= GOAL_CER_RATIO * tess['cer'])}; "
                  f"no page above 3 % {verdict(m['pages_over_3'] == 0)}; key terms ≥ 95 % "
                  f"{verdict(terms >= GOAL_TERMS)}; wall ≤ 1.0x ocrmypdf's "
                  f"{verdict(wall <= GOAL_WALL)} (0.6x {verdict(wall <= STRETCH_WALL)}); "
                  f"memory ≤ 1 GB {verdict(t['rss_tree'] <= GOAL_MEMORY_MB)}.")
    for delay in delays:
        plain, ocr = (get(f"fetch.{delay}.{k}.time") for k in ("plain", "ocr"))
        met = ocr["wall"] <= 0.8 * (plain["wall"] + recog["wall"])
        print(f"Goal, fetch --ocr ≤ 0.8x plain fetch + recognition, mirror {delay} ms an answer: "
              f"{verdict(met)}.")

    print()
    for s in sets:
        m = get(f"{s}.ours_tesseract.text")
        print(f"Key terms, {label(s)}, as printed: "
              + ", ".join(f"{term} {counts[1]}" for term, counts in m["terms"].items())
              + f"; {m['terms_split']} more printed across a line break, counted in no column.")
    print("Scored: the text pdftotext extracts from each PDF, and Tesseract alone's text output; "
          "key terms searched for line by line in it.")
    note = get("fetch.recognition.note")
    print(f"{cores} cores; " + get("load").replace("\n", ", ") + "."
          + (f" Separate recognition: combine --ocr of the {note}." if note else ""))


if __name__ == "__main__":
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2].split(), sys.argv[3], sys.argv[4], sys.argv[5],
         sys.argv[6].split())
