# An upgrade over a watch.toml that names the check the package once
# shipped (@PULSEWARDEN_CHECK@): the new watch.toml names nothing, and
# replaces the old one where it was not edited, which would drop the check
# without a word. Noted now, while the old file is in place, for after; a
# drop-in taken away since is never written back by a later upgrade.
rm -f "@KEEP_CHECK_MARK@"
if [ "$upgrading" = yes ] && grep -qxF '@KEEP_CHECK_LINE@' "@PULSEWARDEN_CONFIG@" 2>/dev/null; then
	: >"@KEEP_CHECK_MARK@"
fi
