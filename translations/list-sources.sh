#!/bin/sh
# Prints the C++ files whose texts the user reads: the folders of catalogue-folders.txt,
# without their tests and fuzzers, one path a line relative to the repository root.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cd "$(dirname "$here")"
# shellcheck disable=SC2046
find $(cat "$here/catalogue-folders.txt") \( -name tests -o -name fuzz \) -prune -o \
    \( -name '*.cpp' -o -name '*.h' \) -print | LC_ALL=C sort
