# The check noted before the upgrade, kept in a drop-in where the new
# watch.toml took the old one's place (it names the check no more) and the
# check is there to run. Named first (00-), so that a later drop-in's
# [check], or its command = [], still has the last word.
if [ -e "@KEEP_CHECK_MARK@" ]; then
	rm -f "@KEEP_CHECK_MARK@"
	if ! grep -qxF '@KEEP_CHECK_LINE@' "@PULSEWARDEN_CONFIG@" 2>/dev/null \
		&& [ -f "@PULSEWARDEN_CHECK@" ] && [ -x "@PULSEWARDEN_CHECK@" ] && [ ! -e "@KEEP_CHECK_DROP_IN@" ]; then
		mkdir -p "@PULSEWARDEN_CONFIG_DIR@/watch.d"
		printf '%s\n' "# Written at an upgrade: the check watch.toml named before, which it names no more." \
			'[check]' '@KEEP_CHECK_LINE@' >"@KEEP_CHECK_DROP_IN@"
	fi
fi
