#!/bin/sh
# Writes the gzipped manual page of one of the programs (used by the build).
#   man-page.sh PROGRAM NAME OUT
# halnor40ku writes its own page from its option table (--man); the tools'
# pages wrap their usage text.
set -e
program=$1 name=$2 out=$3
mkdir -p "$(dirname "$out")"
if [ "$name" = halnor40ku ]; then
    "$program" --man | gzip -9n > "$out"
    exit 0
fi
title=$(echo "$name" | tr 'a-z' 'A-Z')
{
    printf '.TH %s 1 "" "%s" "User Commands"\n.SH NAME\n%s \\- a tool of the HX\\-40K terminal program\n' \
        "$title" "$name" "$name"
    printf '.SH SYNOPSIS\n.nf\n'
    "$program" --help 2>&1 | sed -e 's/\\/\\e/g' -e 's/-/\\-/g' || true
    printf '.fi\n.SH SEE ALSO\n\\fBhalnor40ku\\fR(1)\n'
} | gzip -9n > "$out"
