#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need.
# Quick and silent when everything is present: apt-get runs only for what is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-multimedia-dev qt6-image-formats-plugins
    libmupdf-dev libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev
    libharfbuzz-dev libfreetype-dev libjpeg-dev libbrotli-dev
    libqpdf-dev qpdf
    libidn-dev
    libturbojpeg0-dev libpng-dev libtiff-dev libgif-dev libimagequant-dev
    poppler-utils mupdf-tools
    img2pdf
    libcups2-dev
    libtesseract-dev tesseract-ocr tesseract-ocr-eng tesseract-ocr-rus ghostscript
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-format
    fonts-dejavu-core fonts-urw-base35
    tzdata
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "Missing packages and no sudo: ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
