#!/bin/bash
# The README's one-command forms, as a new user runs them: the quick
# start's commands after the build, under set -euo pipefail, print green
# and end with 0; its packages include man-db, without which there is no
# man; the test command is the one CI runs; and every page it points to
# in docs/ is there.
set -u
build=${1:?usage: readme_test.sh BUILD_DIR SOURCE_DIR} source=${2:?usage: readme_test.sh BUILD_DIR SOURCE_DIR}
readme=$source/README.md
failed=0
fail() { echo "readme: $*"; failed=1; }

quick=$(grep -m1 '^    sudo=\$(' "$readme") || { echo "readme: no quick start line"; exit 1; }
case $quick in *' man-db '*) ;; *) fail "the quick start does not install man-db" ;; esac
built='cmake -S . -B build && cmake --build build -j"$(nproc)" && '
case $quick in *"$built"*) ;; *) fail "the quick start does not build with: $built" ;; esac
try=${quick#*"$built"}
state=$(mktemp -d) || exit 1
trap 'rm -rf "$state"' EXIT
out=$(CORVANE_SIM_STATE_DIR=$state bash -euo pipefail -c "${try//build\/bin\//$build/bin/}" 2>&1)
status=$?
if [ "$status" != 0 ] || [ "$out" != green ]; then
	fail "the quick start's '$try' printed '$out' and ended with $status, not green and 0"
fi

tests=$(sed -n '/^## Tests/,/^## /{s/^    //p}' "$readme" | head -1)
[ -n "$tests" ] || fail "no test command under ## Tests"
grep -qxF "$tests" "$source/.ci/run" || fail "CI (.ci/run) does not run the README's test command: $tests"

for page in $(grep -o '](docs/[^)#]*\.md' "$readme" | sed 's/^](//' | sort -u); do
	[ -f "$source/$page" ] || fail "it points to $page, which is not there"
done
[ "$failed" = 0 ] && echo "readme: the quick start printed green under pipefail; CI runs '$tests'; every docs page it names is there"
exit "$failed"
