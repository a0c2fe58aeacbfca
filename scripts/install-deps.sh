#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Labrosa need.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-pdf-dev libgl-dev libqt6svg6
    # the Evolutie window's plot and its SVG copy
    qt6-charts-dev qt6-svg-dev
    # labrosa-receiver on an analyser's serial line
    qt6-serialport-dev
    # the numbered page footer of a printed or exported bulletin
    libqpdf-dev
    libqt6sql6-sqlite libqt6sql6-psql libsqlite3-dev libpq-dev
    # the signing passwords' Argon2id hashes
    libsodium-dev
    # Qt's own dialogs in the desktop's language
    qt6-translations-l10n
    libbenchmark-dev
    # the Debian package: building it (cpack, dpkg-shlibdeps, PNG icons) and checking it
    dpkg-dev fakeroot file librsvg2-bin lintian desktop-file-utils appstream
    postgresql
    xvfb xauth fonts-dejavu-core
    poppler-utils sqlite3
    mdbtools libmdb3 mdbtools-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
