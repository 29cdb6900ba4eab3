#!/bin/sh
# Installs what is missing, builds Halvora and runs its main job.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release
build/release/app/Halvora render --demo -o build/release/demo.wav
