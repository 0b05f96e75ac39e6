#!/usr/bin/env bash
# Gives this machine the virtual PDF printer "vxPDF" that "Create PDF From File" prints to:
#  1. installs cups and printer-driver-cups-pdf when missing,
#  2. starts the CUPS scheduler when none answers (containers have no systemd: cupsd runs
#     detached in the foreground mode, so it needs no init system),
#  3. creates the queue vxPDF on the cups-pdf backend, not shared, enabled and accepting jobs.
# It does not make vxPDF the default printer: the program switches to it only for a hand-over.
# Safe to run again; quick when everything is in place. Needs root (packages, queues).
# Prints the folder the PDFs of this user appear in.
set -euo pipefail

QUEUE=${LUMADOC_PRINTER:-vxPDF}

if [[ $(id -u) -ne 0 ]]; then
    echo "setup-printer.sh needs root (it installs packages and creates a print queue)." >&2
    exit 1
fi

if ! command -v cupsd >/dev/null || ! command -v lp >/dev/null ||
    [[ ! -x /usr/lib/cups/backend/cups-pdf ]]; then
    echo "Installing: cups printer-driver-cups-pdf"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends cups printer-driver-cups-pdf >/dev/null
fi

scheduler_up() { LC_ALL=C lpstat -r 2>/dev/null | grep -q 'scheduler is running'; }
if ! scheduler_up; then
    mkdir -p /run/cups
    setsid cupsd -f </dev/null >/dev/null 2>&1 &
    for _ in $(seq 1 100); do
        scheduler_up && break
        sleep 0.1
    done
    if ! scheduler_up; then
        echo "The CUPS scheduler did not start; see /var/log/cups/error_log." >&2
        exit 1
    fi
fi

if ! lpstat -p "$QUEUE" >/dev/null 2>&1; then
    # The _opt driver ends every file name in "-job_<id>.pdf", so a job's PDF can be found.
    ppd=$(dpkg -L printer-driver-cups-pdf 2>/dev/null | grep -m1 '/CUPS-PDF_opt\.ppd$' || true)
    if [[ -n "$ppd" ]]; then
        driver=(-P "$ppd")
    else
        driver=(-m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd)
    fi
    # lpadmin warns that printer drivers are deprecated; the queue works all the same.
    lpadmin -p "$QUEUE" -E -v cups-pdf:/ "${driver[@]}" -o printer-is-shared=false 2>/dev/null
fi
# A queue left stopped or rejecting (by hand, or by a failed job) is put back to work.
if ! LC_ALL=C lpstat -p "$QUEUE" | grep -q enabled; then
    cupsenable "$QUEUE"
fi
if ! LC_ALL=C lpstat -a "$QUEUE" | grep -q 'accepting requests'; then
    cupsaccept "$QUEUE"
fi

# Where cups-pdf writes the jobs of this user: its "Out" setting, ${HOME}/PDF unless changed.
conf=/etc/cups/cups-pdf.conf
[[ -r /etc/cups/cups-pdf-$QUEUE.conf ]] && conf=/etc/cups/cups-pdf-$QUEUE.conf
out=$(awk '$1 == "Out" { $1 = ""; sub(/^ +/, ""); print; exit }' "$conf" 2>/dev/null || true)
out=${out:-'${HOME}/PDF'}
user=$(id -un)
home=$(getent passwd "$user" | cut -d: -f6)
out=${out//'${HOME}'/$home}
out=${out//'${USER}'/$user}
echo "Printer $QUEUE is ready; its PDFs appear in $out"
