#!/bin/sh
# The Layout in docs/architecture.md names every file git keeps under
# apps/, monitorlib/, system/ and docs/, each in the entry of the deepest
# folder that holds it: as `name.ext`, or as `name.cpp`/`.ext` beside its
# pair. A file added without a word there fails here, named.
set -u
source=${1:?usage: layout_test.sh SOURCE_DIR}
if ! command -v git >/dev/null || ! git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
	echo "layout: skipped: $source is not a git checkout"
	exit 77
fi
files=$(git -C "$source" ls-files apps monitorlib system docs) || exit 1
[ -n "$files" ] || { echo "layout: git lists no files"; exit 1; }
printf '%s\n' "$files" | awk -v layout="$source/docs/architecture.md" '
BEGIN {
	while ((getline line < layout) > 0) {
		if (line ~ /^#/) {
			inLayout = line == "## Layout"
			folder = ""
		} else if (inLayout && match(line, /^- `[^`]*\/`/)) {
			folder = substr(line, 4, RLENGTH - 4)
			text[folder] = line
		} else if (inLayout && folder != "" && line ~ /^  /) {
			sub(/^ +/, "", line)
			text[folder] = text[folder] " " line
		} else {
			folder = ""
		}
	}
	if (!length(text)) {
		print "layout: " layout " has no Layout with entries"
		exit 1
	}
}
# Named as itself, or as the second of a pair: `stem.cpp`/`.h`.
function named(t, base,    dot, stem, ext, rest, i, end) {
	if (index(t, "`" base "`"))
		return 1
	dot = match(base, /\.[^.]*$/)
	if (!dot)
		return 0
	stem = substr(base, 1, dot - 1)
	ext = substr(base, dot)
	rest = t
	while ((i = index(rest, "`" stem ".")) > 0) {
		rest = substr(rest, i + 1)
		end = index(rest, "`")
		if (substr(rest, end, length(ext) + 4) == "`/`" ext "`")
			return 1
	}
	return 0
}
{
	best = ""
	for (f in text)
		if (index($0, f) == 1 && length(f) > length(best))
			best = f
	n = split($0, parts, "/")
	if (best == "") {
		print "layout: no entry in the Layout for the folder of " $0
		bad++
	} else if (!named(text[best], parts[n])) {
		print "layout: " $0 " is not named in the entry of `" best "`"
		bad++
	}
}
END {
	if (bad)
		exit 1
	print "layout: " NR " files, each named in its folder'"'"'s entry"
}'
