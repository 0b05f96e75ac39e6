#!/usr/bin/env bash
# Drives the real launcher from outside, the way a keyboard or screen-reader user reaches it,
# through the accessibility tree (a11y-run.sh of the verification harnesses):
#  1. the launcher shows its buttons and the help link by name, and answers at once;
#  2. "PDF To Images Converter" opens the converter with JPEG chosen, and Exit brings the
#     launcher back;
#  3. "Create PDF From File": a path typed into the file dialog (a name with a space and an
#     accent) is printed on vxPDF, the PDF appears in cups-pdf's folder and the user's default
#     printer is given back. Skipped when there is no vxPDF queue (`sudo make printer`).
#  4. the image program lumaimg ("Create PDF From Images"): its controls by name; Create PDF
#     Now with an empty list warns "Please add a file" ("Add File"); an image added through the
#     file dialog (a space and an accent in its name) and two with Add Folder; a title with a
#     space and non-ASCII letters and a fresh output folder typed in; Create PDF Now until
#     "Done."; then FOLDER/TITLE.pdf must hold the three pages in the list's order and the
#     title; Exit closes the window and ends the program;
#  5. ten 2400x1800 photos made into one PDF, the window's answer times measured second by
#     second from the press of Create PDF Now; the screenshot shows the window afterwards.
# Every window must answer the accessibility bus within LUMADOC_MAX_ANSWER_MS (100) throughout.
# The harness sends no key presses, so the Tab order is not checked here.
#
# Runs a copy of the application folder (LUMADOC_APP, default build/app), so that a rebuild
# meanwhile does not pull the program away, with a home and runtime folder of its own: the
# user's settings, default printer and single-instance lock are not touched.
# Harness: LUMADOC_VERIFY, default ../shared/verify beside the repository. Without it the
# script says so and exits 0. Exit 1 when a check fails. `make test` does not run it.
# LUMADOC_OUTSIDE_OUT: where the screenshot and logs go (default: a new folder under /tmp).
set -uo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VERIFY=${LUMADOC_VERIFY:-$REPO/../shared/verify}
APP=${LUMADOC_APP:-$REPO/build/app}
STEPS=$REPO/tests/outside
MAX_MS=${LUMADOC_MAX_ANSWER_MS:-100}
QUEUE=vxPDF

if [[ ! -x $VERIFY/a11y-run.sh ]]; then
    echo "check-windows-outside: no a11y-run.sh in $VERIFY (set LUMADOC_VERIFY); nothing checked."
    exit 0
fi
if [[ ! -x $APP/lumadoc ]]; then
    echo "check-windows-outside: no $APP/lumadoc; build first (make build) or set LUMADOC_APP." >&2
    exit 1
fi

OUT=${LUMADOC_OUTSIDE_OUT:-$(mktemp -d /tmp/lumadoc-outside.XXXXXX)}
mkdir -p "$OUT"
WORK=$(mktemp -d /tmp/lumadoc-outside-work.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cp -a "$APP" "$WORK/app"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# run NAME [a11y-run.sh options] < STEPS: one start of the program (PROG, default the
# launcher), fresh home and lock.
run() {
    local name=$1
    shift
    local home=$WORK/home-$name runtime=$WORK/runtime-$name
    mkdir -p "$home" "$runtime"
    chmod 700 "$runtime"
    [[ -n ${PREPARE_HOME:-} ]] && "$PREPARE_HOME" "$home"
    echo "== $name"
    env -u LPDEST -u PRINTER HOME="$home" XDG_RUNTIME_DIR="$runtime" "$VERIFY/a11y-run.sh" "$@" -- "${PROG:-$WORK/app/lumadoc}" \
        >"$OUT/$name.log" 2>&1
    local rc=$?
    cat "$OUT/$name.log"
    [[ $rc -eq 0 ]] || fail "$name: a step did not hold (exit $rc)"
    local ms
    while read -r ms; do
        ((ms <= MAX_MS)) || fail "$name: the window took $ms ms to answer (limit $MAX_MS ms)"
    done < <(sed -n 's/^longest answer: \([0-9]*\) ms.*/\1/p' "$OUT/$name.log")
    return $rc
}

# 1. The launcher; its screenshot.
if run launcher --shot "$OUT/launcher.png" <"$STEPS/launcher.steps"; then
    buttons=$(grep -E '^[0-9]+$' "$OUT/launcher.log" | head -1)
    [[ $buttons == 8 ]] || fail "launcher: $buttons buttons showing, expected the 7 and the link"
fi
echo "screenshot: $OUT/launcher.png"

# 2. The converter and back.
run converter <"$STEPS/converter.steps"

# 3. Create PDF From File.
if ! lpstat -p "$QUEUE" >/dev/null 2>&1; then
    echo "== create-pdf: skipped, no printer $QUEUE here (sudo make printer sets it up)"
else
    # The PDF goes to cups-pdf's Out folder of the user the job belongs to (this user, whatever
    # HOME says): ${HOME}/PDF unless the configuration says otherwise.
    user_home=$(getent passwd "$(id -un)" | cut -d: -f6)
    conf=/etc/cups/cups-pdf-$QUEUE.conf
    [[ -r $conf ]] || conf=/etc/cups/cups-pdf.conf
    out_dir=$(sed -n 's/^Out[[:space:]]\+//p' "$conf" 2>/dev/null | tail -1)
    out_dir=${out_dir:-\${HOME\}/PDF}
    out_dir=${out_dir//\$\{HOME\}/$user_home}
    out_dir=${out_dir//\$\{USER\}/$(id -un)}

    docs=$WORK/documents
    mkdir -p "$docs"
    document="$docs/café outside $$.txt"
    printf 'Lumadoc printed this from the file dialog.\nCafé, naïve, Straße.\n' >"$document"

    # The user's own default is an instance of the PDF queue, so that it differs from vxPDF
    # itself and exists on any machine that has vxPDF: the program must switch and switch back.
    own_default=$QUEUE/outside
    prepare_printer_home() {
        mkdir -p "$1/.cups"
        printf 'Default %s\nDest %s fit-to-page=true\n' "$own_default" "$own_default" \
            >"$1/.cups/lpoptions"
    }
    touch "$WORK/before-print"
    sleep 1 # file times have a one-second grain on some file systems
    PREPARE_HOME=prepare_printer_home run create-pdf \
        <<<"$(sed "s|@DOCUMENT@|$document|" "$STEPS/create-pdf.steps")"

    pdf=
    for _ in $(seq 1 60); do
        pdf=$(find "$out_dir" -maxdepth 1 -name "caf*outside_$$*-job_*.pdf" \
            -newer "$WORK/before-print" 2>/dev/null | head -1)
        if [[ -n $pdf ]]; then
            # Ghostscript writes to the final name: the job is done when CUPS says so.
            job=${pdf##*-job_}
            job=${job%.pdf}
            lpstat -W completed -o "$QUEUE" 2>/dev/null | grep -q "^$QUEUE-$job " && break
        fi
        sleep 0.5
    done
    if [[ -z $pdf ]]; then
        fail "create-pdf: no PDF of '$(basename "$document")' in $out_dir within 30 s"
    elif [[ $(head -c 5 "$pdf") != %PDF- ]]; then
        fail "create-pdf: $pdf is not a PDF"
    else
        echo "PDF: $pdf ($(stat -c %s "$pdf") bytes)"
        if command -v pdfinfo >/dev/null; then
            pages=$(pdfinfo "$pdf" 2>/dev/null | sed -n 's/^Pages:[[:space:]]*//p')
            [[ ${pages:-0} -ge 1 ]] || fail "create-pdf: $pdf has no pages"
        fi
    fi
    now=$(env -u LPDEST -u PRINTER HOME="$WORK/home-create-pdf" lpstat -d 2>&1)
    echo "default printer afterwards: $now"
    [[ $now == *"destination: $own_default" ]] ||
        fail "create-pdf: the default printer was not given back ($own_default expected)"
fi

# Steps with @NAME@ placeholders filled in: fill FILE NAME=VALUE...
fill() {
    local text pair
    text=$(<"$1")
    shift
    for pair in "$@"; do
        text=${text//@${pair%%=*}@/${pair#*=}}
    done
    printf '%s\n' "$text"
}

# pdf_pages PDF: its page count, or nothing when it is no readable PDF.
pdf_pages() { pdfinfo "$1" 2>/dev/null | sed -n 's/^Pages:[[:space:]]*//p'; }

if [[ ! -x $WORK/app/lumaimg ]]; then
    fail "images: no lumaimg in $APP"
elif ! command -v pdfinfo >/dev/null || [[ ! -x /usr/bin/convert ]]; then
    echo "== images: skipped, pdfinfo (poppler-utils) or /usr/bin/convert (imagemagick) missing"
else
    # The harness finds the program on the accessibility bus by its file name, "lumaimg". It is
    # started through a small script of that name, which also notes the program's exit status
    # once it ends by itself (and ends it when the harness stops the script).
    imgbin=$WORK/image-program
    mkdir -p "$imgbin"
    ended=$WORK/lumaimg-ended
    {
        echo '#!/bin/sh'
        echo "rm -f $(printf %q "$ended")"
        echo "$(printf %q "$WORK/app/lumaimg") \"\$@\" &"
        echo 'child=$!'
        echo 'trap '\''kill $child 2>/dev/null; exit 143'\'' TERM INT HUP'
        echo 'wait $child'
        echo "echo \$? >$(printf %q "$ended")"
    } >"$imgbin/lumaimg"
    chmod +x "$imgbin/lumaimg"

    # Small pictures: one picked in the file dialog (portrait), two in a folder (landscape,
    # listed in the order a file manager shows them).
    pics=$WORK/pictures
    mkdir -p "$pics/more"
    image="$pics/été photo $$.jpg"
    /usr/bin/convert -size 200x300 gradient:blue-yellow "$image"
    /usr/bin/convert -size 320x240 xc:red "$pics/more/scan2.png"
    /usr/bin/convert -size 240x160 xc:green "$pics/more/scan10.jpg"
    title="Été à Paris $$"
    parent=$WORK/documents-out
    mkdir -p "$parent"
    output="$parent/nouveau dossier"

    # 4. The whole run in the image window, then Exit.
    if PROG=$imgbin/lumaimg run image-window <<<"$(fill "$STEPS/image-window.steps" \
        "IMAGE=$image" "FOLDER=$pics/more" "TITLE=$title" "OUTPUT=$output")"; then
        counts=($(grep -E '^[0-9]+$' "$OUT/image-window.log"))
        [[ ${counts[0]:-} == 11 ]] || fail "image-window: ${counts[0]:-no} buttons showing, expected 11"
        [[ ${counts[1]:-} == 3 ]] || fail "image-window: ${counts[1]:-no} images listed, expected 3"
        if [[ -f $ended ]]; then
            echo "lumaimg ended by itself, exit status $(<"$ended")"
        else
            fail "image-window: Exit closed the window but the program was still running 2 s later"
        fi
    fi
    pdf="$output/$title.pdf"
    if [[ ! -f $pdf ]]; then
        fail "image-window: no '$pdf'"
    else
        pages=$(pdf_pages "$pdf")
        got_title=$(pdfinfo "$pdf" 2>/dev/null | sed -n 's/^Title:[[:space:]]*//p')
        echo "PDF: $pdf, ${pages:-no} pages, title '$got_title'"
        [[ $pages == 3 ]] || fail "image-window: $pdf has ${pages:-no} pages, expected 3"
        [[ $got_title == "$title" ]] ||
            fail "image-window: $pdf has the title '$got_title', expected '$title'"
        # The list's order: the portrait picture first, then the two landscape ones.
        shapes=$(pdfinfo -f 1 -l 3 "$pdf" 2>/dev/null |
            awk '/^Page +[0-9]+ size:/ { printf "%s", ($4 > $6) ? "L" : "P" }')
        [[ $shapes == PLL ]] ||
            fail "image-window: page shapes $shapes, expected PLL (portrait, landscape, landscape)"
    fi

    # 5. Answer times while ten large photos are made into one PDF.
    big=$WORK/photos
    mkdir -p "$big"
    for i in $(seq 1 10); do
        /usr/bin/convert -size 2400x1800 gradient:red-blue -attenuate 0.3 +noise Gaussian \
            -quality 90 "$big/photo $i.jpg"
    done
    big_out=$WORK/large-out/photos
    mkdir -p "${big_out%/*}"
    big_title="Ten photos $$"
    PROG=$imgbin/lumaimg run image-timing --shot "$OUT/image-window.png" \
        <<<"$(fill "$STEPS/image-timing.steps" "FOLDER=$big" "TITLE=$big_title" "OUTPUT=$big_out")"
    listed=$(grep -E '^[0-9]+$' "$OUT/image-timing.log" | head -1)
    [[ $listed == 10 ]] || fail "image-timing: ${listed:-no} images listed, expected 10"
    pdf="$big_out/$big_title.pdf"
    pages=$(pdf_pages "$pdf")
    if [[ $pages != 10 ]]; then
        fail "image-timing: '$pdf' has ${pages:-no} pages, expected 10"
    else
        # The output folder is made when the run starts; the PDF's last write ends it.
        took=$(stat -c '%.3W %.3Y' "$big_out" "$pdf" 2>/dev/null | tr '\n' ' ' |
            awk '$1 > 0 { printf "%d ms", ($4 - $1) * 1000 }')
        echo "PDF: $pdf, 10 pages, $(stat -c %s "$pdf") bytes${took:+, written in about $took}"
    fi
    echo "screenshot: $OUT/image-window.png"
fi

if ((failures)); then
    echo "check-windows-outside: $failures check(s) failed; logs in $OUT"
    exit 1
fi
echo "check-windows-outside: all checks held; logs and screenshot in $OUT"
