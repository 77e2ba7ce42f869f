#!/usr/bin/env bash
# The watcher's unit as systemd runs it, sandbox and all: a systemd of its
# own boots in a copy-on-write view of this machine (nothing it writes
# reaches the real one), and the unit built here is started there with the
# simulated platform and a check run as the package's user, used, killed
# (Restart= brings it back), reloaded and stopped; its exposure is read
# from that systemd. Skipped (77) where that cannot be: not root, or no
# namespaces, overlayfs or systemd to boot.
#   sandboxed_unit_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1") source=$(realpath "$2")
[ "$(id -u)" = 0 ] && [ -x /lib/systemd/systemd ] && command -v unshare >/dev/null || exit 77

# Its mounts must stay its own: a new namespace whose mounts are private,
# or, inside a chroot (whose root is no mount to make private), one that
# copies mounts that are private already.
propagation=private
if ! unshare --mount --propagation private true 2>/dev/null; then
	grep -q ' shared:' /proc/self/mountinfo && exit 77
	propagation=unchanged
fi
work=$(mktemp -d)
trap 'kill -9 ${pid1:-} ${booted:-} ${server:-} 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
# The view: this machine's root read-only below, its changes in memory, the
# build tree bound in wherever it lives; all of it gone with the namespace.
unshare --mount --propagation "$propagation" bash -c '
	set -e
	view=$1 build=$2
	mount -t tmpfs tmpfs "$view"
	mkdir "$view/upper" "$view/work" "$view/root"
	mount -t overlay overlay -o "lowerdir=/,upperdir=$view/upper,workdir=$view/work" "$view/root"
	mount --rbind /dev "$view/root/dev"
	mount --rbind /sys "$view/root/sys"
	mkdir -p "$view/root$build"
	mount --bind "$build" "$view/root$build"
	exec env container=pulsewarden-test unshare --pid --fork --propagation unchanged --mount-proc="$view/root/proc" \
		chroot "$view/root" /lib/systemd/systemd --system --unit=basic.target --log-level=warning
' _ "$work" "$build" >"$work.boot" 2>&1 &
booted=$!
for _ in $(seq 600); do
	pid1=$(pgrep -P "$booted" -x systemd || true)
	[ -n "$pid1" ] && break
	sleep 0.1
done
if [ -z "$pid1" ]; then
	cat "$work.boot"
	exit 77
fi
inside() { nsenter -t "$pid1" -m -p -r -w "$@"; }
# Booted: its bus answers, and it has started what it starts (a unit of
# this machine's that fails there leaves it degraded, which is no matter).
for _ in $(seq 600); do
	state=$(inside systemctl is-system-running 2>/dev/null || true)
	case $state in running | degraded) break ;; esac
	sleep 0.1
done
fail() {
	echo "FAILED: $*"
	inside journalctl -u pulsewarden-watch --no-pager | tail -30
	exit 1
}
# Until a command succeeds, for as long as a slowed machine may need.
until_() {
	for _ in $(seq 600); do
		"$@" >/dev/null 2>&1 && return 0
		sleep 0.1
	done
	return 1
}

tool=$build/bin/pulsewarden
inside sh -c 'getent passwd pulsewarden-check >/dev/null ||
	useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin pulsewarden-check'
inside sh -c 'mkdir -p /etc/pulsewarden /etc/systemd/system/pulsewarden-watch.service.d'
inside sh -c 'cat >/etc/pulsewarden/check' <<'CHECK'
#!/bin/sh
touch /etc/pulsewarden/written 2>/dev/null && echo "it wrote /etc" && exit 1
echo "as $(id -un)"
CHECK
inside chmod 755 /etc/pulsewarden/check

# As the package leaves it: the files name nothing to watch, and the unit
# is skipped, saying why, never failed; a drop-in with one probe starts it.
inside cp "$build/packaging/watch.toml" /etc/pulsewarden/watch.toml
inside cp "$build/tests/pulsewarden-watch.service" /etc/systemd/system/
inside cp "$source/packaging/systemd/corvane-sim.conf" /etc/systemd/system/pulsewarden-watch.service.d/
inside systemctl daemon-reload
inside timeout 60 systemctl start pulsewarden-watch || fail "the unit, as shipped, failed to start"
[ "$(inside systemctl show -P ActiveState pulsewarden-watch)" = inactive ] || fail "the unit, as shipped, is not skipped"
until_ sh -c "nsenter -t $pid1 -m -p -r -w journalctl -u pulsewarden-watch | grep -q 'not started: nothing to watch yet'" \
	|| fail "the skipped unit does not say why"
python3 -c 'import http.server, sys
server = http.server.HTTPServer(("127.0.0.1", 0), http.server.SimpleHTTPRequestHandler)
print(server.server_address[1], flush=True)
server.serve_forever()' >"$work/port" 2>/dev/null &
server=$!
until_ test -s "$work/port" || fail "no web server to probe"
inside mkdir -p /etc/pulsewarden/watch.d
printf '[[http]]\nurl = "http://127.0.0.1:%s/"\n' "$(cat "$work/port")" | inside sh -c 'cat >/etc/pulsewarden/watch.d/50-web.toml'
inside timeout 60 systemctl start pulsewarden-watch || fail "the unit does not start with a drop-in's probe"
until_ inside "$tool" status || fail "not healthy with the shipped file and a drop-in: $(inside "$tool" status)"
echo "as shipped: skipped, saying why; a drop-in with one probe: started, healthy"

# README's Prometheus recipe: the exporter's directory made after the start,
# the metrics file named in a drop-in, and a restart.
prom=/var/lib/prometheus/node-exporter/pulsewarden.prom
# The whole journal read, never cut short: pipefail would count that.
journalSays() { inside journalctl -u pulsewarden-watch --no-pager | grep -cF "$1"; }
metric() { inside grep -qx "$1" "$prom"; }
inside mkdir -p /var/lib/prometheus/node-exporter
echo "metrics_file = \"$prom\"" | inside sh -c 'cat >/etc/pulsewarden/watch.d/60-metrics.toml'
inside timeout 60 systemctl restart pulsewarden-watch || fail "the restart with a metrics drop-in failed"
until_ metric 'pulsewarden_watch_state{state="healthy"} 1' || fail "no healthy state in $prom"
echo "a drop-in's metrics file, after a restart: healthy in it"

# README's Reload recipe: files that check out are applied; a drop-in that
# does not is refused by --check-config and by the reload, which fails,
# the journal naming where, the metric 0, the configuration in use kept.
config=/etc/pulsewarden/watch.toml
inside "$tool" watch --check-config --config "$config" && inside timeout 60 systemctl reload pulsewarden-watch \
	|| fail "a reload of files that check out failed"
until_ journalSays 'configuration reloaded: ' || fail "no reload in the journal"
printf 'interval = "soon"\n' | inside sh -c 'cat >/etc/pulsewarden/watch.d/70-bad.toml'
! inside "$tool" watch --check-config --config "$config" >/dev/null 2>&1 || fail "--check-config passed a bad drop-in"
! inside timeout 60 systemctl reload pulsewarden-watch 2>/dev/null || fail "a reload of a bad drop-in succeeded"
until_ journalSays 'configuration not reloaded, the one in use stays: /etc/pulsewarden/watch.d/70-bad.toml:1:' \
	|| fail "the refused reload's file and line are not in the journal"
until_ metric 'pulsewarden_config_last_reload_successful 0' || fail "the reload metric is not 0"
inside "$tool" status >/dev/null || fail "not healthy after a refused reload: $(inside "$tool" status)"
inside rm /etc/pulsewarden/watch.d/70-bad.toml
inside timeout 60 systemctl reload pulsewarden-watch || fail "a reload of mended files failed"
until_ metric 'pulsewarden_config_last_reload_successful 1' || fail "the reload metric is not 1 again"
echo "reloaded; a bad drop-in refused by --check-config and the reload, named in the journal, the metric 0, still healthy; mended, 1"
inside timeout 60 systemctl stop pulsewarden-watch
inside rm /etc/pulsewarden/watch.d/50-web.toml /etc/pulsewarden/watch.d/60-metrics.toml

inside sh -c 'cat >/etc/pulsewarden/watch.toml' <<'CONFIG'
enable = true
interval = "1s"
check_user = "pulsewarden-check"
metrics_file = "/var/lib/prometheus/node-exporter/pulsewarden.prom"
# The check as a dotted key: the unit's start condition reads TOML as the
# watcher does, whatever way it is written.
check.command = ["/etc/pulsewarden/check"]
CONFIG

inside timeout 60 systemctl start pulsewarden-watch || fail "the unit does not start"
until_ inside "$tool" status || fail "the watcher is not healthy: $(inside "$tool" status)"
inside "$tool" status | grep -q '"as pulsewarden-check"' || fail "the check did not run as pulsewarden-check"
inside "$build/bin/corvane-sim" status | grep -qx 'enabled: yes' || fail "monitoring is not on"
inside grep -q '^pulsewarden_watch_state{state="healthy"} 1' /var/lib/prometheus/node-exporter/pulsewarden.prom \
	|| fail "no metrics file"
# UMask=0077 leaves the collector (another user) what it reads.
[ "$(inside stat -c %a /var/lib/prometheus/node-exporter/pulsewarden.prom /run/pulsewarden/status | sort -u)" = 644 ] \
	|| fail "the metrics file or the status cannot be read by others"
inside test -d /var/lib/pulsewarden || fail "no state directory"
echo "started: healthy, the check ran as pulsewarden-check, the metrics file and the state directory written"

# An ordinary user, who may not open the unit's locks (0600 under UMask=),
# asks with no --runtime-dir: the machine's watcher is found, and runs. The
# build may sit where others cannot go: nobody gets a copy.
inside sh -c "mkdir -p /opt/pw-nobody && cp -a '$build/bin' '$build/lib' /opt/pw-nobody/ && chmod -R a+rX /opt/pw-nobody"
asNobody() {
	inside setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_RUNTIME_DIR /opt/pw-nobody/bin/pulsewarden "$@"
}
answered=0
said=$(asNobody status 2>&1) || answered=$?
[ "$answered" = 0 ] && [ "${said%%$'\n'*}" = "the machine's watcher, in /run/pulsewarden:" ] \
	&& grep -qx healthy <<<"$said" || fail "status as another user ($answered): $said"
echo "status as another user: the machine's watcher found, healthy"

# Killed outright, it is started again and takes its lock back.
inside systemctl kill --signal=KILL --kill-whom=main pulsewarden-watch
until_ sh -c "[ \"\$(nsenter -t $pid1 -m -p -r -w systemctl show -P NRestarts pulsewarden-watch)\" = 1 ]" \
	|| fail "not started again after SIGKILL"
until_ inside "$tool" status || fail "not healthy again after a restart"
inside timeout 60 systemctl reload pulsewarden-watch || fail "the reload failed"
echo "killed, started again by Restart=, healthy again; reloaded"

inside timeout 60 systemctl stop pulsewarden-watch
inside "$build/bin/corvane-sim" status | grep -qx 'enabled: no' || fail "monitoring was not switched off at the stop"
inside test ! -e /etc/pulsewarden/written || fail "a check wrote /etc"
echo "stopped: monitoring switched off; nothing written outside its directories"
answered=0
said=$(asNobody status 2>&1) || answered=$?
[ "$answered" = 3 ] && grep -qx "stopped, monitoring switched off" <<<"$said" \
	|| fail "status as another user after the stop ($answered): $said"
echo "status as another user after the stop: stopped, monitoring switched off"

exposure=$(inside systemd-analyze security pulsewarden-watch --no-pager | sed -n 's/.*Overall exposure level for pulsewarden-watch.service: \([0-9.]*\).*/\1/p')
echo "exposure under systemd $(inside systemctl --version | sed -n '1s/systemd \([0-9]*\).*/\1/p'): $exposure (at most 2.5)"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.5) }'
