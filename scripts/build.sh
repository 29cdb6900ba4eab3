#!/bin/sh
# Usage: scripts/build.sh VARIANT — configures and builds build/VARIANT, where VARIANT is
# release, asan (AddressSanitizer + UndefinedBehaviorSanitizer), tsan (ThreadSanitizer) or
# fuzz (clang with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer).
set -eu
cd "$(dirname "$0")/.."

variant="${1:-release}"
jobs="${HALVORA_JOBS:-$(nproc)}"
case "$variant" in
    release) options="-DCMAKE_BUILD_TYPE=RelWithDebInfo" ;;
    asan) options="-DCMAKE_BUILD_TYPE=Debug -DHALVORA_SANITIZER=address" ;;
    tsan) options="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVORA_SANITIZER=thread" ;;
    fuzz) options="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVORA_BUILD_FUZZERS=ON -DHALVORA_BUILD_BENCHMARKS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++" ;;
    *) echo "build.sh: unknown variant '$variant'" >&2; exit 2 ;;
esac

# shellcheck disable=SC2086
cmake -S . -B "build/$variant" -G Ninja $options
if [ "$variant" = fuzz ]; then
    cmake --build "build/$variant" -j "$jobs" --target halvora_fuzzers
elif [ "$variant" = tsan ]; then
    # Only the threaded tests run under ThreadSanitizer; build just those.
    targets=$(ninja -C "build/$variant" -t targets all | sed -n 's/^\(halvora_[A-Za-z0-9_]*_threaded_tests\): .*/\1/p' | sort -u)
    # shellcheck disable=SC2086
    cmake --build "build/$variant" -j "$jobs" --target $targets
else
    cmake --build "build/$variant" -j "$jobs"
fi
