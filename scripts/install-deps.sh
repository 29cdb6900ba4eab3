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
juce-modules-source-data
zam-plugins
xvfb
libx11-dev
locales
jackd2
libjack-jackd2-dev
librtaudio-dev
libasound2-dev
qt6-base-dev
qt6-qpa-plugins
shared-mime-info
fonts-dejavu-core
libgl-dev
libcurl4-openssl-dev
libebur128-dev
sox
libsox-fmt-mp3
ffmpeg
python3-mido
libfluidsynth-dev
fluid-soundfont-gm
fluidsynth
liblilv-dev
libserd-dev
libsuil-dev
libgtk2.0-dev
libgtk-3-dev
libxtst-dev
lv2-dev
lilv-utils
lv2file
x42-plugins
lsp-plugins-lv2
calf-plugins
eq10q
qt6-tools-dev
qt6-l10n-tools
qt6-translations-l10n
liblo-dev
python3-liblo
liblo-tools
"

# Tests check that numbers are read and written the same under a decimal-comma locale.
ensure_russian_locale() {
    if locale -a 2>/dev/null | grep -qi '^ru_RU.utf8$'; then
        return
    fi
    echo "install-deps: generating the ru_RU.UTF-8 locale"
    $SUDO sh -c "sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen && locale-gen"
}

if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
else
    SUDO="sudo"
fi

missing=""
for package in $PACKAGES; do
    if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    echo "install-deps: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -q --no-install-recommends $missing
else
    echo "install-deps: every package is installed"
fi
ensure_russian_locale
