#!/usr/bin/env python3
"""How much of a page's ink the HTML export shows at the same place in a real browser.

  html_ink.py APP_FOLDER PDF:PAGE [PDF:PAGE ...]

PDF "made" stands for pages this script writes: text set in a Century Gothic (URW Gothic's
Type 1 program under that name), in a Calibri (DejaVu Sans's TrueType program under that name)
and in ZapfDingbats.

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


MADE_FONTS = [
    ("/usr/share/fonts/type1/urw-base35/URWGothic-Book.t1", "CenturyGothic", "FontFile", "Type1"),
    ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "Calibri", "FontFile2", "TrueType"),
    (None, "ZapfDingbats", None, "Type1"),
]
MADE_TEXT = ("A free culture is not a culture without property; it is not a culture in which "
             "artists don't get paid. A culture without property, or in which creators can't "
             "get paid, is anarchy, not freedom.")


def type1_widths(program):
    """Widths of the codes 32 to 126 from the font's AFM file beside it."""
    by_code = {}
    with open(program[:-3] + ".afm", encoding="latin-1") as f:
        for line in f:
            m = re.match(r"C (\d+) ; WX (\d+)", line)
            if m and 32 <= int(m.group(1)) <= 126:
                by_code[int(m.group(1))] = int(m.group(2))
    return [by_code.get(c, 0) for c in range(32, 127)]


def truetype_widths(program):
    """Widths of the codes 32 to 126 from the font's cmap (format 4) and hmtx, per 1000 em."""
    import struct
    with open(program, "rb") as f:
        data = f.read()
    tables = {}
    for i in range(struct.unpack(">H", data[4:6])[0]):
        tag, _, offset, length = struct.unpack(">4sIII", data[12 + 16 * i:28 + 16 * i])
        tables[tag.decode("latin-1")] = data[offset:offset + length]
    units = struct.unpack(">H", tables["head"][18:20])[0]
    metrics = struct.unpack(">H", tables["hhea"][34:36])[0]
    cmap = tables["cmap"]
    sub = None
    for i in range(struct.unpack(">H", cmap[2:4])[0]):
        platform, encoding, offset = struct.unpack(">HHI", cmap[4 + 8 * i:12 + 8 * i])
        if platform == 3 and encoding == 1:
            sub = cmap[offset:]
    segs = struct.unpack(">H", sub[6:8])[0] // 2
    ends = struct.unpack(">%dH" % segs, sub[14:14 + 2 * segs])
    starts = struct.unpack(">%dH" % segs, sub[16 + 2 * segs:16 + 4 * segs])
    deltas = struct.unpack(">%dh" % segs, sub[16 + 4 * segs:16 + 6 * segs])
    range_at = 16 + 6 * segs
    ranges = struct.unpack(">%dH" % segs, sub[range_at:range_at + 2 * segs])

    def glyph(c):
        for i in range(segs):
            if starts[i] <= c <= ends[i]:
                if ranges[i] == 0:
                    return (c + deltas[i]) & 0xFFFF
                at = range_at + 2 * i + ranges[i] + 2 * (c - starts[i])
                g = struct.unpack(">H", sub[at:at + 2])[0]
                return (g + deltas[i]) & 0xFFFF if g else 0
        return 0

    def advance(g):
        g = min(g, metrics - 1)
        return struct.unpack(">H", tables["hmtx"][4 * g:4 * g + 2])[0]

    return [round(advance(glyph(c)) * 1000 / units) for c in range(32, 127)]


def write_made_pages(path):
    """Three pages of a heading and a paragraph, one per font of MADE_FONTS."""
    objects = ["<< /Type /Catalog /Pages 2 0 R >>", None]
    kids = []
    for program, name, key, subtype in MADE_FONTS:
        words = MADE_TEXT.split()
        lines, line = [], ""
        for word in words:
            if len(line) + len(word) > 60:
                lines.append(line)
                line = ""
            line = (line + " " + word).strip()
        lines.append(line)
        content = "BT /F1 28 Tf 72 700 Td (%s sample) Tj ET\n" % name
        for i, text in enumerate(lines):
            text = text.replace("\\", "").replace("(", "").replace(")", "")
            content += "BT /F1 14 Tf 72 %d Td (%s) Tj ET\n" % (650 - 20 * i, text)
        font = "<< /Type /Font /Subtype /%s /BaseFont /%s" % (subtype, name)
        if program:
            widths = type1_widths(program) if key == "FontFile" else truetype_widths(program)
            font += (" /Encoding /WinAnsiEncoding /FirstChar 32 /LastChar 126 /Widths [%s]"
                     " /FontDescriptor %d 0 R" % (" ".join(map(str, widths)), len(objects) + 5))
        font += " >>"
        first = len(objects) + 1
        kids.append("%d 0 R" % first)
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
                       "/Resources << /Font << /F1 %d 0 R >> >> >>" % (first + 1, first + 2))
        objects.append("<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content))
        objects.append(font)
        if program:
            with open(program, "rb") as f:
                data = f.read().decode("latin-1")
            objects.append("<< /Length %d /Length1 %d /Length2 0 /Length3 0 >>\nstream\n%s\n"
                           "endstream" % (len(data), len(data), data))
            objects.append("<< /Type /FontDescriptor /FontName /%s /Flags 32 /FontBBox [-200 -300 "
                           "1200 1000] /ItalicAngle 0 /Ascent 750 /Descent -250 /CapHeight 700 "
                           "/StemV 80 /%s %d 0 R >>" % (name, key, len(objects)))
    objects[1] = "<< /Type /Pages /Kids [%s] /Count %d >>" % (" ".join(kids), len(kids))
    out = "%PDF-1.4\n"
    offsets = []
    for i, body in enumerate(objects):
        offsets.append(len(out.encode("latin-1")))
        out += "%d 0 obj\n%s\nendobj\n" % (i + 1, body)
    xref = len(out.encode("latin-1"))
    out += "xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += "".join("%010d 00000 n \n" % o for o in offsets)
    out += "trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, xref)
    with open(path, "wb") as f:
        f.write(out.encode("latin-1"))


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    if not shutil.which("chromium") or not os.path.exists(CDP):
        print("html_ink: Chromium or ../shared/verify is missing; skipped")
        return 0
    app = sys.argv[1]
    print("%-34s %6s %12s %12s" % ("page", "", "ink shown", "ink in place"))
    made_folder = tempfile.TemporaryDirectory()
    for spec in sys.argv[2:]:
        pdf, page = spec.rsplit(":", 1)
        if pdf == "made":
            pdf = os.path.join(made_folder.name, "made pages.pdf")
            if not os.path.exists(pdf):
                write_made_pages(pdf)
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
