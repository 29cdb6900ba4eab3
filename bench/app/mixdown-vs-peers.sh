#!/bin/sh
# Times `Halvora render` as a whole process beside sox and ecasound doing the same mix of
# 32 stereo 16-bit 48 kHz tracks of 60 s: per-track gain and pan, then again with four EQ
# bands per track. Prints wall, user and system time, peak resident memory, and the speed of
# the render against each peer measured in the same run (best of RUNS runs each). The gain
# + pan mix is also timed for a plain file-to-file mixer that reads with read(2) and does
# nothing else: the floor any mixdown program can reach on this machine.
#
#   bench/app/mixdown-vs-peers.sh [BUILD_DIR]     (default build/release)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/release}
runs=${RUNS:-3}
halvora=$build/app/Halvora
workload=$build/bench/app/halvora_mix_workload
floor=$build/bench/app/halvora_read_mix_floor

# The peers are Debian packages; this benchmark alone needs them.
missing=""
for package in sox ecasound time; do
    dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
if [ -n "$missing" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get install -y --no-install-recommends $missing
fi
for program in "$halvora" "$workload" "$floor"; do
    [ -x "$program" ] || { echo "build first: $program is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/halvora_peers_XXXXXX")
trap 'rm -rf "$work"' EXIT
"$workload" "$work" >/dev/null

# Best (lowest wall) of $runs runs: "wall user system maxrss_kib".
measure() {
    best=""
    i=0
    while [ "$i" -lt "$runs" ]; do
        /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/errors" ||
            { cat "$work/errors" >&2; exit 1; }
        line=$(tail -n 1 "$work/time")
        if [ -z "$best" ] || awk -v a="$line" -v b="$best" \
            'BEGIN { split(a, x, " "); split(b, y, " "); exit !(x[1] < y[1]) }'; then
            best=$line
        fi
        i=$((i + 1))
    done
    echo "$best"
}

# sox: all tracks merged into one 64-channel stream, the EQ on every channel, then one
# remix to stereo with each track's left and right gains.
sox_mix() {
    peers=$1
    effects=$2
    left=""
    right=""
    channel=1
    files=""
    while read -r file gainLeft gainRight; do
        files="$files $file"
        left="$left${left:+,}${channel}v$gainLeft"
        right="$right${right:+,}$((channel + 1))v$gainRight"
        channel=$((channel + 2))
    done <"$peers"
    # shellcheck disable=SC2086
    echo sox -D -M $files -b 16 "$work/sox.wav" $effects remix "$left" "$right"
}

# ecasound: one chain per track with its gains (and EQ), all chains summed into one file.
ecasound_mix() {
    peers=$1
    effects=$2
    chains=""
    names=""
    n=1
    while read -r file gainLeft gainRight; do
        left=$(awk -v g="$gainLeft" 'BEGIN { printf "%.4f", 100 * g }')
        right=$(awk -v g="$gainRight" 'BEGIN { printf "%.4f", 100 * g }')
        chains="$chains -a:$n -i:$file -eac:$left,1 -eac:$right,2 $effects"
        names="$names${names:+,}$n"
        n=$((n + 1))
    done <"$peers"
    echo ecasound -q -z:mixmode,sum -b:1024 -f:16,2,48000 $chains -a:$names -o:"$work/ecasound.wav"
}

report() {
    label=$1
    halvoraLine=$2
    shift 2
    hwall=$(echo "$halvoraLine" | cut -d' ' -f1)
    printf '%-9s %-8s %8s %8s %8s %9s %13s\n' "$label" tool "wall s" "user s" "sys s" "peak MiB" "Halvora is"
    printf '%s\n' "$halvoraLine" | awk -v l="$label" '{ printf "%-9s %-8s %8.3f %8.3f %8.3f %9.1f %13s\n", l, "Halvora", $1, $2, $3, $4 / 1024, "-" }'
    while [ "$#" -gt 1 ]; do
        printf '%s\n' "$2" | awk -v l="$label" -v t="$1" -v h="$hwall" '{ printf "%-9s %-8s %8.3f %8.3f %8.3f %9.1f %12.2fx\n", l, t, $1, $2, $3, $4 / 1024, $1 / h }'
        shift 2
    done
    printf '%s\n' "$halvoraLine" | awk -v l="$label" '{ printf "%-9s Halvora system time: %.1f %% of its wall time\n", l, ($1 > 0 ? 100 * $3 / $1 : 0) }'
}

for bands in 0 4; do
    folder="$work/mix_eq$bands.halvora"
    # Every tool reads the media from the page cache.
    cat "$folder"/media/*.wav >/dev/null
    if [ "$bands" -eq 0 ]; then
        label="gain+pan"
        soxEffects=""
        ecaEffects=""
    else
        label="4 EQ"
        soxEffects="highpass 40 equalizer 400 1q 3 equalizer 2500 1q -2 lowpass 16000"
        ecaEffects="-efh:40 -efr:400,400 -efr:2500,2500 -efl:16000"
    fi
    h=$(measure "$halvora" render "$folder" -o "$work/halvora.wav" --quiet)
    s=$(measure $(sox_mix "$folder/peers.txt" "$soxEffects"))
    e=$(measure $(ecasound_mix "$folder/peers.txt" "$ecaEffects"))
    if [ "$bands" -eq 0 ]; then
        f=$(measure "$floor" "$folder/peers.txt" "$work/floor.wav")
        report "$label" "$h" sox "$s" ecasound "$e" "read(2)" "$f"
    else
        report "$label" "$h" sox "$s" ecasound "$e"
    fi
done
