# The check noted before the upgrade, kept in a drop-in where the files
# now name nothing to watch (status 1: the new watch.toml took the old
# one's place) and the check is there to run.
if [ -e "@KEEP_CHECK_MARK@" ]; then
	rm -f "@KEEP_CHECK_MARK@"
	named=0
	if [ -f "@PULSEWARDEN_CHECK@" ] && [ -x "@PULSEWARDEN_CHECK@" ] && [ ! -e "@KEEP_CHECK_DROP_IN@" ]; then
		"@CMAKE_INSTALL_FULL_BINDIR@/pulsewarden" watch --check-config --condition --config "@PULSEWARDEN_CONFIG@" \
			2>/dev/null || named=$?
	fi
	if [ "$named" = 1 ]; then
		mkdir -p "@PULSEWARDEN_CONFIG_DIR@/watch.d"
		printf '%s\n' "# Written at an upgrade: the check watch.toml named before, which it names no more." \
			'[check]' 'command = ["@PULSEWARDEN_CHECK@"]' >"@KEEP_CHECK_DROP_IN@"
	fi
fi
