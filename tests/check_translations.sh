#!/usr/bin/env bash
# Fails when a text that the code passes through tr() or a form shows is
# missing from a committed translation file or still unfinished there.
# Usage: check_translations.sh <source dir> <build dir>
set -euo pipefail

src=${1:?source dir}
if [ -x /usr/lib/qt5/bin/lupdate ]; then
    lupdate=/usr/lib/qt5/bin/lupdate
elif [ -x /usr/lib/qt6/bin/lupdate ]; then
    lupdate=/usr/lib/qt6/bin/lupdate
else
    lupdate=$(command -v lupdate) || { echo "lupdate not found"; exit 1; }
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Every message of the code, to be sure the scan found something.
"$lupdate" -silent -locations none -no-obsolete "$src/app" "$src/ui" "$src/radio" \
    -ts "$tmp/code.ts" >"$tmp/lupdate.log" 2>&1 || { cat "$tmp/lupdate.log"; exit 1; }
found=$(grep -c '<message' "$tmp/code.ts" || true)
if [ "$found" -eq 0 ]; then
    echo "lupdate found no messages in the code"
    exit 1
fi

# Merging the code into a copy of each committed file marks every message
# that the file lacks as unfinished, next to those left unfinished in it.
status=0
for ts in "$src"/translations/Trns_en_US.ts "$src"/translations/Trns_zh_CN.ts; do
    if [ ! -f "$ts" ]; then
        echo "missing translation file: $ts"
        status=1
        continue
    fi
    copy="$tmp/$(basename "$ts")"
    cp "$ts" "$copy"
    "$lupdate" -silent -locations none -no-obsolete "$src/app" "$src/ui" "$src/radio" \
        -ts "$copy" >"$tmp/lupdate.log" 2>&1 || { cat "$tmp/lupdate.log"; exit 1; }
    if ! awk -v file="$(basename "$ts")" '
        /<context>/ { context = "" }
        /<name>/ && context == "" {
            context = $0; sub(/.*<name>/, "", context); sub(/<\/name>.*/, "", context)
        }
        /<source>/ { source = $0; sub(/.*<source>/, "", source); sub(/<\/source>.*/, "", source) }
        /<translation type="unfinished"/ || /<translation><\/translation>/ || /<translation\/>/ {
            printf "%s: untranslated key \"%s\" in context \"%s\"\n", file, source, context
            bad = 1
        }
        END { exit bad }
    ' "$copy"; then
        status=1
    fi
done

if [ "$status" -eq 0 ]; then
    echo "all $found messages of the code are translated in both files"
fi
exit "$status"
