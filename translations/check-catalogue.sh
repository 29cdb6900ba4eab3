#!/bin/sh
# Runs lupdate over the files with user-visible texts into a copy of each catalogue and fails
# when that finds a text the catalogue lacks or a translation still unfinished.
# usage: check-catalogue.sh LUPDATE SCRATCH_FOLDER
set -eu
lupdate=$1
scratch=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$scratch"
"$here/list-sources.sh" > "$scratch/sources.lst"
status=0
for catalogue in "$here"/halvora_*.ts; do
    # English is the source language: its catalogue holds only the plural forms.
    plural=""
    case $catalogue in *_en.ts) plural=-pluralonly ;; esac
    copy="$scratch/$(basename "$catalogue")"
    cp "$catalogue" "$copy"
    (cd "$(dirname "$here")" && "$lupdate" -I . -silent -locations none -no-obsolete $plural \
        "@$scratch/sources.lst" -ts "$copy")
    unfinished=$(grep -c 'type="unfinished"' "$copy" || true)
    if [ "$unfinished" -ne 0 ]; then
        echo "$(basename "$catalogue"): $unfinished text(s) without a finished translation:"
        grep -A1 '<source>' "$copy" | grep -B1 'type="unfinished"' | grep '<source>' |
            sed 's/^ */    /'
        status=1
    fi
done
exit $status
