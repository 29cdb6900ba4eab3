#!/bin/sh
# Installs the Debian packages Halvora builds and tests with, skipping those already present.
set -eu

PACKAGES="
cmake
ninja-build
g++
pkg-config
ccache
clang
libclang-rt-14-dev
libgtest-dev
libgmock-dev
libbenchmark-dev
libsndfile1-dev
libsamplerate0-dev
libavformat-dev
libavcodec-dev
libavutil-dev
libswresample-dev
nlohmann-json3-dev
"

missing=""
for package in $PACKAGES; do
    if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
        missing="$missing $package"
    fi
done

if [ -z "$missing" ]; then
    echo "install-deps: everything is installed"
    exit 0
fi

echo "install-deps: installing$missing"
if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
else
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
