#!/bin/sh
# Brings every catalogue up to date with the texts in the code (new texts come in unfinished,
# texts no longer used are dropped); translate the unfinished ones, then commit.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
lupdate=${LUPDATE:-/usr/lib/qt6/bin/lupdate}
sources=$(mktemp)
trap 'rm -f "$sources"' EXIT
"$here/list-sources.sh" > "$sources"
cd "$(dirname "$here")"
for catalogue in "$here"/halvora_*.ts; do
    # English is the source language: its catalogue holds only the plural forms.
    plural=""
    case $catalogue in *_en.ts) plural=-pluralonly ;; esac
    "$lupdate" -I . -locations none -no-obsolete $plural "@$sources" -ts "$catalogue"
done
