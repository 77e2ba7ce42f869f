#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and uses it as a newcomer
# would: the layout, a moved tree, an application built through pkg-config
# and through find_package, the installed tool, its completion and its man
# pages. Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
# Exit status 77: skipped, as the test summary then says.
for tool in cc pkg-config groff readelf; do
	command -v "$tool" >/dev/null || { echo "install: skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() {  # description, then the command that must succeed
	local what=$1
	shift
	if "$@" >"$work/out" 2>&1; then
		passed=$((passed + 1))
	else
		failed=$((failed + 1))
		echo "FAILED: $what"
		sed 's/^/  /' "$work/out"
	fi
}

DESTDIR=$work/stage cmake --install "$build" --prefix /usr/local >/dev/null || exit 1
prefix=$work/stage/usr/local
libdir=$(cd "$prefix" && dirname "$(find . -name 'libcorvane-pulsewarden.so.1' | head -1)")
for file in bin/pulsewarden bin/corvane-sim include/corvane-pulsewarden.h \
	"$libdir/libcorvane-pulsewarden.so.1.0.0" "$libdir/pkgconfig/corvane-pulsewarden.pc" \
	"$libdir/pulsewarden/pulsewarden-watch.so" \
	"$libdir/cmake/corvane-pulsewarden/corvane-pulsewarden-config.cmake" \
	share/man/man1/pulsewarden.1.gz share/man/man1/pulsewarden-watch.1.gz share/man/man1/corvane-sim.1.gz share/man/man3/corvane-pulsewarden.3.gz \
	share/bash-completion/completions/pulsewarden lib/systemd/catalog/pulsewarden.catalog; do
	check "installed: $file" test -f "$prefix/$file"
done
# journalctl -x explains the lines of their own kind once the catalog is taken in.
if command -v journalctl >/dev/null; then
	mkdir -p "$work/journal/usr/lib/systemd/catalog" "$work/journal/var/lib/systemd/catalog"
	cp "$prefix/lib/systemd/catalog/pulsewarden.catalog" "$work/journal/usr/lib/systemd/catalog/"
	check "the journal's catalog takes both entries" sh -c "journalctl --root='$work/journal' --update-catalog &&
		test \$(journalctl --root='$work/journal' --list-catalog | grep -c ' pulsewarden: ') -eq 2"
fi
check "SONAME link" test "$(readlink "$prefix/$libdir/libcorvane-pulsewarden.so.1")" = libcorvane-pulsewarden.so.1.0.0
check "development link" test "$(readlink "$prefix/$libdir/libcorvane-pulsewarden.so")" = libcorvane-pulsewarden.so.1
check "no Debian package files" test ! -e "$prefix/share/doc"
check "no search path of the build tree in the tool" \
	sh -c "! readelf -d '$prefix/bin/pulsewarden' | grep -F '$build'"

# Everything below uses the tree moved elsewhere, with the library as the
# platform's own package might install it: another version behind the
# SONAME.
mv "$prefix" "$work/moved"
prefix=$work/moved
mv "$prefix/$libdir/libcorvane-pulsewarden.so.1.0.0" "$prefix/$libdir/libcorvane-pulsewarden.so.1.7.3"
ln -sf libcorvane-pulsewarden.so.1.7.3 "$prefix/$libdir/libcorvane-pulsewarden.so.1"
export CORVANE_SIM_STATE_DIR=$work/state

# By itself: no copy of the library elsewhere on the system may serve it.
found=$(ldd "$prefix/bin/pulsewarden" | awk '$1 == "libcorvane-pulsewarden.so.1" { print $3 }')
check "the moved tool finds the library beside it" test "$(realpath "$found")" = \
	"$(realpath "$prefix/$libdir/libcorvane-pulsewarden.so.1.7.3")"
check "the moved tool finds watch's module" sh -c "'$prefix/bin/pulsewarden' watch --help | grep -q -- --interval"
check "the installed tool reaches the simulated platform" sh -c "
	'$prefix/bin/pulsewarden' enable && '$prefix/bin/pulsewarden' markActive &&
	test \"\$('$prefix/bin/pulsewarden' getAppStatus)\" = green"
# Its module there but unloadable (as where a library it needs is too
# old): the loader's own words for the installed module, not the build
# tree's absence, and no advice to reinstall, which cannot mend it.
module=$prefix/$libdir/pulsewarden/pulsewarden-watch.so
mv "$module" "$work/module.so"
printf '%080d\n' 0 >"$module"
check "an unloadable module: the loader's error for it, no advice" sh -c "
	'$prefix/bin/pulsewarden' watch --help >'$work/said' 2>&1; status=\$?; cat '$work/said'; [ \$status -eq 1 ] &&
	grep -q '^watch: cannot load its module: .*/pulsewarden/pulsewarden-watch.so: invalid ELF header\$' '$work/said' &&
	! grep -q reinstall '$work/said'"
mv "$work/module.so" "$module"
export LD_LIBRARY_PATH=$prefix/$libdir

client=$source/tests/c_client/c_client.c
check "an application built through pkg-config" sh -c "
	PKG_CONFIG_PATH='$prefix/$libdir/pkgconfig' cc -std=c99 -Wall -Werror \
		\$(PKG_CONFIG_PATH='$prefix/$libdir/pkgconfig' pkg-config --cflags corvane-pulsewarden) \
		'$client' -o '$work/client-pc' \
		\$(PKG_CONFIG_PATH='$prefix/$libdir/pkgconfig' pkg-config --libs corvane-pulsewarden) &&
	'$work/client-pc'"
check "an application built through find_package" sh -c "
	cmake -S '$source/tests/install_consumer' -B '$work/consumer' -DCMAKE_PREFIX_PATH='$prefix' \
		-DCLIENT_SOURCE='$client' && cmake --build '$work/consumer' && '$work/consumer/c_client'"

completions() {
	bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _pulsewarden; echo "${COMPREPLY[*]}"' \
		_ "$prefix/share/bash-completion/completions/pulsewarden" "$@"
}
check "completion after 'pulsewarden '" test "$(completions pulsewarden '')" = \
	"enable disable markActive isEnabled getAppStatus postAppState runAsAgent watch status service help"
check "completion of watch's options" test "$(completions pulsewarden watch --enable --int)" = "--interval"
check "completion after an option and its value" test "$(completions pulsewarden watch --interval 5 --unch)" = \
	"--unchecked-limit"
check "completion after an option=value" test "$(completions pulsewarden watch --interval=5 --vers)" = "--version"
completion=$prefix/share/bash-completion/completions/pulsewarden
check "completion of a path option's file" test "$(completions pulsewarden watch --file "${completion%warden}")" = \
	"$completion"
check "completion of status's options" test "$(completions pulsewarden status --j)" = "--json"
check "completion of service's options" test "$(completions pulsewarden service --)" = "--help --version"
check "no completion of an option's value" test -z "$(completions pulsewarden watch --interval '')"
check "completion of options" test "$(completions pulsewarden -s --)" = "--silent"
check "completion after 'postAppState '" test "$(completions pulsewarden -s postAppState '')" = \
	"appStateOk appStateNeedReset"
check "no completion after a command" test -z "$(completions pulsewarden postAppState appStateOk '')"

for page in man1/pulsewarden.1.gz man1/pulsewarden-watch.1.gz man1/corvane-sim.1.gz man3/corvane-pulsewarden.3.gz; do
	check "$page renders without warnings" sh -c \
		"zcat '$prefix/share/man/$page' | groff -ww -man -z 2>&1 | (! grep .)"
	if command -v mandoc >/dev/null; then
		check "$page passes mandoc's lint" sh -c "zcat '$prefix/share/man/$page' | mandoc -T lint"
	fi
done

echo "install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
