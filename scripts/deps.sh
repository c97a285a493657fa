#!/usr/bin/env bash
# Installs what building, running and testing Tesserix needs on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
pkgs=(cmake g++ make ccache pkg-config
      libjpeg62-turbo-dev libjpeg-turbo-progs zlib1g-dev
      libspng-dev libwebp-dev libheif-dev libtiff-dev
      qt6-base-dev libqt6svg6-dev
      libgtest-dev googletest libbenchmark-dev libcli11-dev
      clang libclang-rt-14-dev
      xvfb xauth poppler-utils
      help2man gzip groff-base file dpkg-dev lintian
      desktop-file-utils appstream libxml2-utils shared-mime-info)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y "${missing[@]}"
fi
