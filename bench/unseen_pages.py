#!/usr/bin/python3
"""Pages the recognisers have not been tuned on, for bench/ocr_bench.sh: patent-like Chinese text
set in Noto Serif CJK SC and Noto Sans CJK SC at 10.5, 11 and 12 points, 300 dpi, bilevel, Group 4
TIFF, with scanner speckle. Needs python3-pil and fonts-noto-cjk (Debian's packages).

  unseen_pages.py OUTDIR [-n COUNT] [--seed SEED]
      Writes OUTDIR/000001.tif, 000002.tif, ... and beside each the lines it prints (000001.txt,
      UTF-8, one printed line a line), as make_pages does. The pages cycle through the six styles
      (serif 10.5, 11, 12 pt, then sans); the same seed gives the same files byte for byte.
"""
import argparse
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFont, TiffImagePlugin

FONTS = {
    "serif": "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc",
    "sans": "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
}
# Debian's .ttc files hold JP, KR, SC, TC and HK in this order: 2 is Simplified Chinese.
SC_INDEX = 2
STYLES = [(face, size) for face in ("serif", "sans") for size in (10.5, 11, 12)]
WIDTH, HEIGHT, DPI = 2480, 3508, 300  # A4
MARGIN, TOP, BOTTOM = 250, 300, 300
LINE_PITCH = 1.7  # baseline to baseline, in ems

SECTIONS = ["技术领域", "背景技术", "发明内容", "附图说明", "具体实施方式"]
# Sentences of an invented valve patent. Slots in braces are filled per use, so that digits,
# units and Latin vary from page to page.
SENTENCES = [
    "本发明涉及一种波纹管密封截止阀，包括阀体、阀盖、阀杆和阀瓣。",
    "阀体采用{steel}不锈钢制造，符合GB/T {std}-20{yy}的要求。",
    "波纹管的一端与阀杆焊接，另一端与阀盖固定连接，形成密封腔。",
    "密封面经过堆焊硬质合金处理，硬度达到HRC {hrc}以上。",
    "在公称压力{mpa}MPa、温度{temp}℃的工况下，泄漏率降低约{pct}%。",
    "所述截止阀的公称通径为DN{dn}，阀杆行程为{stroke}mm。",
    "与现有技术相比，本发明的使用寿命提高了约{pct}%。",
    "实施例{n}：取长度为{length}mm的波纹管，壁厚0.{d}mm，层数为{layers}层。",
    "密封面的表面粗糙度Ra≤0.{d}μm，平面度误差不大于0.0{d}mm。",
    "试验结果表明，该截止阀在{cycles}次启闭后仍无泄漏。",
    "阀盖与阀体之间采用石墨垫片密封，螺栓规格为M{bolt}×{boltlen}。",
    "图{n}是本发明截止阀的结构示意图；图{m}是波纹管组件的剖视图。",
    "所述不锈钢材料的含铬量为18%～20%，含镍量为8%～10.5%。",
    "阀杆上端设有手轮，下端通过销轴与阀瓣连接（见图{n}）。",
    "根据JB/T {std}-20{yy}进行压力试验，试验压力为{test}MPa。",
    "上述技术方案解决了传统截止阀填料处易泄漏的问题。",
    "阀瓣与阀座之间设有PTFE密封环，在低温和高温条件下均能保持良好的贴合。",
    "当波纹管破损时，介质从检测孔流出，操作人员可以及时发现故障。",
    "试验压力为公称压力的{ratio}倍，保压时间为{minutes}min，密封面无可见渗漏。",
    "阀杆表面经氮化处理，渗层深度为0.{d}mm，耐磨性明显提高。",
    "所述阀体的进口和出口分别设有法兰，法兰的连接尺寸符合HG/T {std}的规定。",
    "该截止阀适用于水、蒸汽和油品等介质，工作温度为-{low}℃～{temp}℃。",
    "“防泄漏”是指在额定工况下，阀杆处的泄漏量小于{leak}mL/h。",
    "波纹管由{layers}层厚度为0.{d}mm的316L不锈钢薄板卷制焊接而成。",
    "转动手轮时，阀杆带动阀瓣上下移动，从而打开或关闭介质通道。",
    "阀体内腔经过喷砂处理，其表面不得有砂眼、裂纹等缺陷。",
    "表{n}列出了DN{dn}至DN{dn2}各规格截止阀的主要尺寸。",
    "如需更换密封面，只需拆下阀盖，无需将阀体从管道上拆除。",
]
# Short lines of their own: a table caption, a figure label, a claim's start.
SHORT_LINES = ["表{n} 试验结果", "图{n}", "权利要求书：", "（单位：mm）", "注：{pct}%为平均值。"]


def fill(template, rng):
    return template.format(
        steel=rng.choice(["304", "316", "316L", "321"]), std=rng.randint(1000, 39999),
        yy=rng.randint(10, 24), hrc=rng.choice([38, 40, 42, 45]),
        mpa=rng.choice(["1.0", "1.6", "2.5", "4.0", "6.4"]), temp=rng.choice([120, 200, 250, 425]),
        pct=rng.randint(12, 95), dn=rng.choice([15, 20, 25, 32, 40, 50, 65, 80]),
        dn2=rng.choice([100, 150, 200, 300]), stroke=rng.choice(["8.5", "12.5", "16", "22"]),
        n=rng.randint(1, 9), m=rng.randint(1, 9), length=rng.choice([45, 60, 85, 120]),
        d=rng.randint(1, 9), layers=rng.randint(2, 5), cycles=rng.choice([5000, 10000, 20000]),
        bolt=rng.choice([12, 16, 20]), boltlen=rng.choice([45, 60, 80]),
        test=rng.choice(["1.76", "2.4", "3.75", "6.0"]), ratio=rng.choice(["1.1", "1.5"]),
        minutes=rng.choice([3, 5, 10]), low=rng.choice([10, 20, 29, 40]),
        leak=rng.choice(["0.1", "0.5", "1"]))


def page_blocks(rng, page, count, number):
    """The page's text as blocks: the numbered header, then short lines and paragraphs."""
    blocks = [f"CN{number} 说明书 {page}/{count}"]
    blocks.append(rng.choice(SECTIONS))
    paragraphs = rng.randint(3, 4)
    for p in range(paragraphs):
        picked = rng.sample(SENTENCES, rng.randint(3, 5))
        blocks.append(f"[{rng.randint(1, 90):04d}] " + "".join(fill(s, rng) for s in picked))
        if p == 1:
            blocks.append(fill(rng.choice(SHORT_LINES), rng))
    return blocks


def ascii_word(c):
    return c.isascii() and (c.isalnum() or c in ".-/")


# Marks a line may not begin with, as Chinese typesetting has it: they stay with the line above.
NO_LINE_START = "，。、；：！？）》”’%～"


def wrap(text, fits):
    """Breaks text into lines that fit, never inside a run of Latin letters and digits unless
    the run alone is wider than a line, nor before a closing mark."""
    lines = []
    while not fits(text):
        k = len(text)
        while k > 1 and not fits(text[:k]):
            k -= 1
        start = k
        while start > 0 and ascii_word(text[start - 1]) and ascii_word(text[start]):
            start -= 1
        k = start if start > 0 else k
        while k > 1 and text[k] in NO_LINE_START:
            k -= 1
        lines.append(text[:k].rstrip())
        text = text[k:].lstrip()
    lines.append(text)
    return lines


def draw_page(rng, page, count, number):
    face, points = STYLES[(page - 1) % len(STYLES)]
    px = round(points * DPI / 72)
    font = ImageFont.truetype(FONTS[face], px, index=SC_INDEX)
    image = Image.new("L", (WIDTH, HEIGHT), 255)
    draw = ImageDraw.Draw(image)
    fits = lambda s: draw.textlength(s, font=font) <= WIDTH - 2 * MARGIN
    printed = []
    y = TOP
    for block in page_blocks(rng, page, count, number):
        for line in wrap(block, fits):
            if y + px > HEIGHT - BOTTOM:
                break
            draw.text((MARGIN, y), line, font=font, fill=0)
            printed.append(line)
            y += round(px * LINE_PITCH)
        y += px // 2  # a little space between blocks
    bilevel = image.point(lambda v: 0 if v < 128 else 255).convert("1")
    # Scanner speckle: isolated dots of one or two pixels, dark on the paper and light in the ink.
    pixels = bilevel.load()
    for _ in range(3000):
        x, y = rng.randrange(WIDTH - 1), rng.randrange(HEIGHT - 1)
        value = 0 if pixels[x, y] else 255
        for dx, dy in [(0, 0), (1, 0), (0, 1), (1, 1)][: rng.choice([1, 1, 1, 2, 4])]:
            pixels[x + dx, y + dy] = value
    return bilevel, printed


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("outdir")
    parser.add_argument("-n", "--count", type=int, default=12)
    parser.add_argument("--seed", type=int, default=20261211)
    args = parser.parse_args(argv)
    if not 1 <= args.count <= 9999:
        sys.exit("unseen_pages: the page count must be from 1 to 9999")
    for path in FONTS.values():
        if not os.path.isfile(path):
            sys.exit(f"unseen_pages: {path} is missing (Debian's fonts-noto-cjk)")
    os.makedirs(args.outdir, exist_ok=True)
    rng = random.Random(args.seed)
    number = f"2026{rng.randint(10000000, 99999999)}"
    # Min-is-white, as fax pages and make_pages' are; PIL writes the same pixels either way.
    tags = TiffImagePlugin.ImageFileDirectory_v2()
    tags[262] = 0
    for page in range(1, args.count + 1):
        image, printed = draw_page(rng, page, args.count, number)
        base = os.path.join(args.outdir, f"{page:06d}")
        image.save(base + ".tif", compression="group4", dpi=(DPI, DPI), tiffinfo=tags)
        with open(base + ".txt", "w", encoding="utf-8") as f:
            f.write("".join(line + "\n" for line in printed))


if __name__ == "__main__":
    main(sys.argv[1:])
