#!/usr/bin/env bash
# Drives the real launcher from outside, the way a keyboard or screen-reader user reaches it,
# through the accessibility tree (a11y-run.sh of the verification harnesses):
#  1. the launcher shows its buttons and the help link by name, and answers at once;
#  2. "PDF To Images Converter" opens the converter with JPEG chosen, and Exit brings the
#     launcher back;
#  3. "Create PDF From File": a path typed into the file dialog (a name with a space and an
#     accent) is printed on vxPDF, the PDF appears in cups-pdf's folder and the user's default
#     printer is given back. Skipped when there is no vxPDF queue (`sudo make printer`).
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

# run NAME [a11y-run.sh options] < STEPS: one start of the program, fresh home and lock.
run() {
    local name=$1
    shift
    local home=$WORK/home-$name runtime=$WORK/runtime-$name
    mkdir -p "$home" "$runtime"
    chmod 700 "$runtime"
    [[ -n ${PREPARE_HOME:-} ]] && "$PREPARE_HOME" "$home"
    echo "== $name"
    env -u LPDEST -u PRINTER HOME="$home" XDG_RUNTIME_DIR="$runtime" "$VERIFY/a11y-run.sh" "$@" -- "$WORK/app/lumadoc" \
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

if ((failures)); then
    echo "check-windows-outside: $failures check(s) failed; logs in $OUT"
    exit 1
fi
echo "check-windows-outside: all checks held; logs and screenshot in $OUT"
