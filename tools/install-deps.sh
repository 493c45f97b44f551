#!/usr/bin/env bash
# Installs, as root on Debian 12, what building, testing and the demo need.
# Does nothing when everything is there already.
set -euo pipefail
packages=(build-essential cmake pkg-config libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcairo2-dev libpng-dev libfreetype-dev fonts-liberation2 lighttpd curl libgif-dev giflib-tools imagemagick
  librsvg2-bin libxml2-utils
  python3 python3-xlrd clang libclang-rt-14-dev hyperfine time
  libfcgi-dev nginx-light spawn-fcgi
  libreoffice-calc-nogui gnumeric python3-xlwt
  libminizip-dev libexpat1-dev zlib1g-dev python3-openpyxl python3-odf)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
fi
