#!/bin/sh
# DNS-SD names as other machines see them.  The test makes a network of its
# own: a private network namespace (nothing outside the machine reaches it)
# holding one end of a veth pair, whose other end is a second namespace, the
# "peer" host.  Each side has its own D-Bus system bus and avahi-daemon
# (their /run a private tmpfs, so a system avahi-daemon is left alone).
#
# Before the server starts, this host's avahi-publish-service holds "office"
# (IPP) and the application's own name (HTTP); the peer holds "office (2)"
# and "lab" (IPP).  The printers "office" and "lab" must then be advertised
# as "office (3)" (refused here, then in collision with the peer) and
# "lab (2)" (in collision with the peer), the system as
# "tesvel-printer-app (2)", with the server's port and TXT record (no TLS
# key: the server offers no TLS), report those names as
# printer-dns-sd-name, and keep them after a restart.  Last, a printer
# added by its dnssd:// URI (the peer's "Peer Printer") has its status
# asked at the address the resolution gives.
#
#   dnssd.sh BUILD-DIR
#
# Exits 77 (skipped) with the reason when avahi, D-Bus or the namespaces
# cannot be had.
set -u
build=${1:?usage: dnssd.sh BUILD-DIR}
mode=${2:-}
work=${3:-}

skip() {
  echo "SKIPPED: $*"
  exit 77
}

# mdns_host NAME INTERFACE: a D-Bus system bus and an avahi-daemon of their
# own for this namespace, in $work/NAME, published on INTERFACE only; sets
# DBUS_SYSTEM_BUS_ADDRESS for what starts next.  Their ids go to $pids.
mdns_host() {
  dir=$work/$1
  mkdir -p "$dir"
  mount -t tmpfs tmpfs /run || return 1
  cat > "$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
  printf '[server]\nhost-name=tesvel-%s\nuse-ipv6=no\nallow-interfaces=%s\n[wide-area]\nenable-wide-area=no\n[publish]\npublish-workstation=no\n' \
    "$1" "$2" > "$dir/avahi.conf"
  dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile > "$dir/bus.log" 2>&1 &
  pids="$pids $!"
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/bus
  for _ in $(seq 1 50); do [ -S "$dir/bus" ] && break; sleep 0.1; done
  avahi-daemon -f "$dir/avahi.conf" --no-drop-root --no-chroot --no-rlimits > "$dir/avahi.log" 2>&1 &
  pids="$pids $!"
  for _ in $(seq 1 300); do
    grep -q 'Server startup complete' "$dir/avahi.log" && return 0
    sleep 0.1
  done
  cat "$dir/bus.log" "$dir/avahi.log"
  return 1
}

# publish NAME TYPE: another program holds NAME, until the test ends.
publish() {
  avahi-publish-service "$1" "$2" 631 > "$work/publish.$$.$2.$1" 2>&1 &
  pids="$pids $!"
  for _ in $(seq 1 300); do
    grep -q "Established under name '$1'" "$work/publish.$$.$2.$1" && return 0
    sleep 0.1
  done
  cat "$work/publish.$$.$2.$1"
  return 1
}

stop_all() {
  for p in $pids; do kill "$p" 2>/dev/null; done
  for p in $pids; do wait "$p" 2>/dev/null; done
}

case $mode in
'')
  for tool in avahi-daemon avahi-publish-service avahi-browse dbus-daemon unshare ip; do
    command -v "$tool" > /dev/null ||
      skip "$tool is missing (scripts/install-deps.sh installs avahi-daemon, avahi-utils and dbus-daemon)"
  done
  unshare --net --mount --propagation private true 2>/dev/null ||
    skip "cannot make a private network and mount namespace here (unshare needs CAP_SYS_ADMIN)"
  work=$(mktemp -d "${TMPDIR:-/tmp}/tpa-dnssd.XXXXXX")
  unshare --net --mount --propagation private sh "$0" "$build" net "$work"
  status=$?
  [ "$status" = 1 ] || rm -rf "$work"
  exit "$status"
  ;;
peer)
  # The other host: its end of the pair arrives from the test's namespace.
  pids=""
  trap 'stop_all; exit 0' TERM
  for _ in $(seq 1 100); do ip link show tv1 > /dev/null 2>&1 && break; sleep 0.1; done
  ip link set lo up && ip link set tv1 up && ip addr add 192.0.2.2/24 dev tv1 &&
    mdns_host peer tv1 && publish "office (2)" _ipp._tcp && publish lab _ipp._tcp &&
    publish "Peer Printer" _pdl-datastream._tcp && touch "$work/peer.ready"
  wait
  exit 0
  ;;
esac

# The test's own namespace: this host is 192.0.2.1 (a documentation
# address) on tv0, with loopback.
. "$(cd "$(dirname "$0")" && pwd)/../../scripts/app-lib.sh"
pids=""
trap 'app_stop; stop_all' EXIT
ip link set lo up && ip link add tv0 type veth peer name tv1 && ip link set tv0 up &&
  ip addr add 192.0.2.1/24 dev tv0 || skip "no veth pair in a private network namespace"
unshare --net --mount --propagation private sh "$0" "$build" peer "$work" &
peer=$!
pids="$pids $peer"
# The peer's end goes to its namespace once it has one.
for _ in $(seq 1 100); do
  [ "$(readlink "/proc/$peer/ns/net")" != "$(readlink /proc/self/ns/net)" ] && break
  sleep 0.1
done
ip link set tv1 netns "$peer" || skip "cannot move a veth end into a second namespace"
mdns_host here tv0 || skip "no private avahi-daemon on a private D-Bus (its log is above)"
for _ in $(seq 1 600); do [ -f "$work/peer.ready" ] && break; sleep 0.1; done
[ -f "$work/peer.ready" ] || { cat "$work"/peer/*.log "$work"/publish.*; skip "the peer's avahi-daemon did not start"; }
publish office _ipp._tcp && publish tesvel-printer-app _http._tcp || exit 1

app_dir=$work/app
app_port=8631  # the namespace is ours: any port is free
mkdir -p "$app_dir/tmp" "$work/out"
# Every interface of the namespace: a server on loopback only advertises nothing.
start_app() {
  TESVEL_PRINTER_APP_DIR=$app_dir TMPDIR=$app_dir/tmp "$app" server -o server-port=$app_port \
    -o log-file="$app_dir/log" -o log-level=info -o listen-hostname='*' -o server-options=no-tls \
    >> "$app_dir/server.out" 2>&1 &
  app_pid=$!
  for _ in $(seq 1 300); do
    [ -S "$app_dir/tesvel-printer-app.sock" ] && return 0
    sleep 0.1
  done
  echo "The Printer Application did not start, see $app_dir/log"
  exit 1
}

# What the network and the printers say of our names, one line each:
# what avahi-browse resolves on our port (the name's \DDD escapes decoded,
# the IPP TXT record's resource and TLS key), then printer-dns-sd-name.
observed() {
  for type in _ipp._tcp _http._tcp; do
    timeout 30 avahi-browse -rpt "$type" 2> /dev/null | awk -F';' -v type="$type" -v port="$app_port" '
      $1 == "=" && $9 == port {
        name = $4
        while (match(name, /\\[0-9][0-9][0-9]/))
          name = substr(name, 1, RSTART - 1) sprintf("%c", substr(name, RSTART + 1, 3) + 0) substr(name, RSTART + 4)
        rp = match($10, /"rp=[^"]*"/) ? " " substr($10, RSTART + 4, RLENGTH - 5) : ""
        print type " " name rp ($10 ~ /"TLS=/ ? " TLS" : "") }' | sort -u
  done
  for p in office lab; do
    echo "$p: $(ipptool -T 30 -c "$(app_uri "$p")" "$app_dir/name.test" | sed -n 2p)"
  done
}
expected='_ipp._tcp lab (2) ipp/print/lab
_ipp._tcp office (3) ipp/print/office
_http._tcp lab (2)
_http._tcp office (3)
_http._tcp tesvel-printer-app (2)
office: office (3)
lab: lab (2)'

ipp_test "$app_dir/name.test" Get-Printer-Attributes <<'EOF'
  ATTR keyword requested-attributes printer-dns-sd-name
  STATUS successful-ok
  DISPLAY printer-dns-sd-name
EOF

status=0
# check WHEN: waits up to 30 s for the collisions with the peer to be
# resolved, then compares.
check() {
  deadline=$(($(date +%s) + 30))
  while got=$(observed) && [ "$got" != "$expected" ] && [ "$(date +%s)" -lt "$deadline" ]; do sleep 0.5; done
  [ "$got" = "$expected" ] || { printf 'FAILED (%s):\n%s\n--- expected:\n%s\n' "$1" "$got" "$expected"; status=1; }
}

start_app
app_add office tesvel_tz3010 "file://$work/out" && app_add lab tesvel_tz3010 "file://$work/out" ||
  { echo "FAILED: cannot add the printers"; exit 1; }
check added
grep -q "DNS-SD service name 'office (2)' is in use, now 'office (3)'" "$app_dir/log" ||
  { echo "FAILED: the log does not name the new name"; status=1; }
# The new names are the printers' names from now on, after a restart too.
app_stop
start_app
check restarted
# A printer found by DNS-SD: the peer's "Peer Printer", with no SNMP agent
# there.  Its address is resolved and asked, so the log says that it does
# not answer, not that it could not be found.
app_add peer tesvel_tz3010 "dnssd://Peer%20Printer._pdl-datastream._tcp.local/" ||
  { echo "FAILED: cannot add the DNS-SD printer"; status=1; }
for _ in $(seq 1 120); do
  grep -q "Printer peer.*does not answer SNMP\|Printer peer.*could not be found" "$app_dir/log" && break
  sleep 0.5
done
grep -q "Printer peer.*does not answer SNMP" "$app_dir/log" ||
  { echo "FAILED: the dnssd:// printer's address was not found and asked"; grep "Printer peer" "$app_dir/log"; status=1; }
app_stop
if grep -qE 'runtime error:|ERROR: (Address|Leak)Sanitizer' "$app_dir/server.out"; then
  echo "FAILED: the sanitizers reported:"
  cat "$app_dir/server.out"
  status=1
fi
[ "$status" = 0 ] || tail -n 30 "$app_dir/log" "$work/here/avahi.log"
exit "$status"
