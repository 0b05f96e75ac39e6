#!/usr/bin/env python3
"""How much of a page's ink the HTML export shows at the same place in a real browser.

  html_ink.py APP_FOLDER PDF:PAGE [PDF:PAGE ...]

Each page goes through pdf2htm; headless Chromium shows the HTML at 96 dpi (through
../shared/verify/cdp_shot.py) and poppler draws the page at 96 dpi. Both are cut into blocks of
12 px; a block has ink where a pixel is darker than 200 of 255. Printed per page: the share of
the page's ink blocks that the browser's picture has ink in too (1.0: nothing visible is lost)
and the share of the browser's ink blocks that the page has (1.0: nothing shows where the page is
empty).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CDP = os.path.join(HERE, "..", "..", "shared", "verify", "cdp_shot.py")
BLOCK = 12
DARK = 200


def read_pgm(path):
    with open(path, "rb") as f:
        data = f.read()
    m = re.match(rb"P5\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    w, h = int(m.group(1)), int(m.group(2))
    return w, h, data[m.end():]


def ink_blocks(w, h, pixels, width, height):
    blocks = set()
    for y in range(min(h, height)):
        row = pixels[y * w:y * w + min(w, width)]
        for x, v in enumerate(row):
            if v < DARK:
                blocks.add((x // BLOCK, y // BLOCK))
    return blocks


def measure(app, pdf, page, work):
    html = os.path.join(work, "page.html")
    subprocess.run([os.path.join(app, "data", "pdf2htm"), "-f", str(page), "-l", str(page), pdf,
                    html], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(html, encoding="utf-8") as f:
        text = f.read()
    # The page alone, at the top left, without the viewer's frame and shadow.
    text = text.replace("</head>", "<style>body{padding:0!important;background:#fff!important}"
                        ".page{margin:0!important;box-shadow:none!important}</style></head>", 1)
    with open(html, "w", encoding="utf-8") as f:
        f.write(text)
    info = subprocess.run(["pdfinfo", "-f", str(page), "-l", str(page), pdf], check=True,
                          capture_output=True, text=True).stdout
    size = re.search(r"Page +%d size: +([\d.]+) x ([\d.]+)" % page, info)
    width = round(float(size.group(1)) * 96 / 72)
    height = round(float(size.group(2)) * 96 / 72)
    shot = os.path.join(work, "shot.png")
    subprocess.run([sys.executable, CDP, "file://" + html, shot, "--size", "%dx%d" % (width, height),
                    "--wait-js", "document.readyState === 'complete'", "--settle-ms", "800"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["convert", shot, "-colorspace", "Gray", "-depth", "8",
                    os.path.join(work, "shot.pgm")], check=True)
    subprocess.run(["pdftoppm", "-r", "96", "-f", str(page), "-l", str(page), "-gray", "-singlefile",
                    pdf, os.path.join(work, "page")], check=True)
    bw, bh, bpix = read_pgm(os.path.join(work, "shot.pgm"))
    pw, ph, ppix = read_pgm(os.path.join(work, "page.pgm"))
    page_ink = ink_blocks(pw, ph, ppix, width, height)
    shot_ink = ink_blocks(bw, bh, bpix, width, height)
    shown = len(page_ink & shot_ink) / len(page_ink) if page_ink else 1.0
    clean = len(page_ink & shot_ink) / len(shot_ink) if shot_ink else 1.0
    return shown, clean


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    if not shutil.which("chromium") or not os.path.exists(CDP):
        print("html_ink: Chromium or ../shared/verify is missing; skipped")
        return 0
    app = sys.argv[1]
    print("%-34s %6s %12s %12s" % ("page", "", "ink shown", "ink in place"))
    for spec in sys.argv[2:]:
        pdf, page = spec.rsplit(":", 1)
        with tempfile.TemporaryDirectory() as work:
            try:
                shown, clean = measure(app, pdf, int(page), work)
            except subprocess.CalledProcessError as e:
                print("%-34s failed: %s" % (os.path.basename(pdf) + " p" + page, e))
                continue
        print("%-34s %6s %12.3f %12.3f" % (os.path.basename(pdf), "p" + page, shown, clean))
    return 0


if __name__ == "__main__":
    sys.exit(main())
