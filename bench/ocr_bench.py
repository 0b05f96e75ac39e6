#!/usr/bin/env python3
"""Text recognition against the tesseract program, on pages whose letters are outlines.

The corpus's tracemonkey.pdf, pages 1-6, is turned into outlines with Ghostscript
(-dNoOutputFonts): the pages look the same and carry no text. Lumadoc's Word (RTF) and HTML
exports read them with recognition; the tesseract program reads the same pages drawn at 300 dpi
in grey, in the same languages. Printed: time per recognised page for both (both cores busy:
tesseract two pages at a time, one thread each; and tesseract as it runs by default), and the
word recall (multiset, any order) of each against pdftotext of the original.

usage: ocr_bench.py APP_FOLDER CORPUS_FOLDER [VERIFY_FOLDER]
"""
import collections
import os
import re
import subprocess
import sys
import tempfile
import time

FIRST, LAST = 1, 6


def words(text):
    return collections.Counter(w.lower() for w in re.findall(r"\w+", text))


def recall(reference, got):
    want, have = words(reference), words(got)
    total = sum(want.values())
    return sum(min(c, have[w]) for w, c in want.items()) / total if total else 0.0


def timed(commands, parallel=1, env=None):
    """The better of two runs: this machine's timings wander by a fifth from run to run."""
    return min(timed_once(commands, parallel, env) for _ in range(2))


def timed_once(commands, parallel=1, env=None):
    start = time.monotonic()
    running = []
    for command in commands:
        running.append(subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL))
        if len(running) == parallel:
            running.pop(0).wait()
    for process in running:
        process.wait()
    return time.monotonic() - start


def html_text(path):
    page = open(path, encoding="utf-8").read()
    spans = re.findall(r"<span[^>]*>([^<]*)</span>", page)
    return "\n".join(s.replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">")
                     for s in spans)


def main():
    app, corpus = sys.argv[1], sys.argv[2]
    verify = sys.argv[3] if len(sys.argv) > 3 else os.path.join(corpus, "..", "verify")
    source = os.path.join(corpus, "tracemonkey.pdf")
    pages = LAST - FIRST + 1
    with tempfile.TemporaryDirectory() as tmp:
        outlined = os.path.join(tmp, "outlined.pdf")
        subprocess.run(["gs", "-q", "-sDEVICE=pdfwrite", "-dNoOutputFonts",
                        f"-dFirstPage={FIRST}", f"-dLastPage={LAST}", "-o", outlined, source],
                       check=True)
        reference = subprocess.run(["pdftotext", "-f", str(FIRST), "-l", str(LAST), source, "-"],
                                   capture_output=True, text=True, check=True).stdout
        pictures = []
        for page in range(1, pages + 1):
            png = os.path.join(tmp, f"page{page}.png")
            subprocess.run(["mutool", "draw", "-q", "-r", "300", "-c", "gray", "-o", png,
                            outlined, str(page)], check=True, stderr=subprocess.DEVNULL)
            pictures.append(png)
        listed = subprocess.run(["tesseract", "--list-langs"], capture_output=True,
                                text=True).stdout.splitlines()[1:]
        languages = "+".join(["eng"] + sorted(l.strip() for l in listed
                                              if l.strip() not in ("eng", "osd", "equ")))

        cli = os.path.join(app, "lumadoc-cli")
        out = os.path.join(tmp, "out")
        ours_rtf = timed([[cli, "convert", "--to", "rtf", "-o", out, outlined]])
        plain_rtf = timed([[cli, "convert", "--to", "rtf", "--ocr=no", "-o",
                            os.path.join(tmp, "plain"), outlined]])
        ours_html = timed([[cli, "convert", "--to", "html", "-o", out, outlined]])
        one_thread = dict(os.environ, OMP_THREAD_LIMIT="1")
        tess_two = timed([["tesseract", p, p[:-4] + "-a", "-l", languages] for p in pictures],
                         parallel=2, env=one_thread)
        # By default its threads spin against each other on few cores: two pages tell enough.
        tess_default = timed_once([["tesseract", p, p[:-4] + "-b", "-l", languages]
                                   for p in pictures[:2]]) * pages / 2
        tess_text = "\n".join(open(p[:-4] + "-a.txt", encoding="utf-8").read() for p in pictures)

        print(f"Text recognition, tracemonkey pages {FIRST}-{LAST} as outlines "
              f"({pages} pages, languages {languages}, {os.cpu_count()} cores)")
        print(f"  lumadoc Word (RTF):  {ours_rtf / pages:5.2f} s/page "
              f"(the same export without recognition: {plain_rtf / pages:4.2f} s/page)")
        print(f"  lumadoc HTML:        {ours_html / pages:5.2f} s/page")
        print(f"  tesseract, 2 at once, 1 thread each: {tess_two / pages:5.2f} s/page"
              f"  -> ours/peer RTF {ours_rtf / tess_two:4.2f}x, HTML {ours_html / tess_two:4.2f}x")
        print(f"  tesseract as it runs by default:     {tess_default / pages:5.2f} s/page"
              f"  -> ours/peer RTF {ours_rtf / tess_default:4.2f}x")

        html = html_text(os.path.join(out, "outlined", "outlined.html"))
        print(f"  word recall against pdftotext of the original: HTML {recall(reference, html):.4f}"
              f", tesseract {recall(reference, tess_text):.4f}", end="")
        rtf_to_text = os.path.join(verify, "rtf-to-text.sh")
        if os.path.exists(rtf_to_text):
            text = os.path.join(tmp, "rtf.txt")
            subprocess.run([rtf_to_text, os.path.join(out, "outlined.rtf"), text],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if os.path.exists(text):
                print(f", RTF read by LibreOffice {recall(reference, open(text).read()):.4f}",
                      end="")
        print()

        # A real scan (a Russian and English form at 200 dpi): our words against tesseract's.
        scan = os.path.join(corpus, "issue7229.pdf")
        png = os.path.join(tmp, "scan.png")
        subprocess.run(["mutool", "draw", "-q", "-r", "300", "-c", "gray", "-o", png, scan, "1"],
                       check=True, stderr=subprocess.DEVNULL)
        subprocess.run(["tesseract", png, png[:-4], "-l", languages], env=one_thread,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([cli, "convert", "--to", "html", "-o", out, scan],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        theirs = open(png[:-4] + ".txt", encoding="utf-8").read()
        ours = html_text(os.path.join(out, "issue7229", "issue7229.html"))
        print(f"  issue7229 (a scan): {sum(words(ours).values())} words; "
              f"recall of tesseract's words {recall(theirs, ours):.4f}")


if __name__ == "__main__":
    main()
