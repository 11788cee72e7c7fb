#!/bin/sh
# The packages as a user meets them, on this machine, as root: installed
# with apt-get, which brings in what they depend on; a two-page job printed
# through the installed filter by a private cupsd and one through the
# installed Printer Application, each printer file checked by the installed
# prndecode; then purged, after which the file system must list the same
# files as before the install (the comparison piuparts makes).
#   scripts/deb-test.sh BUILD      (the .deb files of `make deb` in BUILD)
# Servers listen on a socket in a private directory or on loopback only,
# and are stopped on every way out.
set -eu
build=$(realpath "${1:-build}")
here=$(realpath "$(dirname "$0")/..")
pkgs="printer-driver-tesvel tesvel-printer-app"
user=tesvel-printer-app
state=/var/lib/tesvel-printer-app
export DEBIAN_FRONTEND=noninteractive
work="" cupsd_pid="" app_pid=""

fail() {
  echo "deb-test: $*" >&2
  exit 1
}

# Waits up to 30 s for a command to succeed.
wait_for() {
  what=$1
  shift
  i=0
  until "$@" 2>/dev/null; do
    i=$((i + 1))
    [ $i -le 150 ] || fail "$what: no answer after 30 s"
    sleep 0.2
  done
}

stop() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  i=0
  while kill -0 "$1" 2>/dev/null && [ $i -lt 50 ]; do
    sleep 0.2
    i=$((i + 1))
  done
  kill -9 "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

cleanup() {
  status=$?
  stop "$app_pid"
  stop "$cupsd_pid"
  if [ $status -ne 0 ] && [ -n "$work" ]; then
    for log in "$work"/cups/log/error_log "$work"/app/log "$work"/app.out; do
      [ -f "$log" ] && tail -n 40 "$log" >&2
    done
    # shellcheck disable=SC2086
    apt-get purge -y -q $pkgs >/dev/null 2>&1 || true
  fi
  [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Every path on the root file system but the kernel's, the temporary and
# runtime ones, apt's and dpkg's own records, logs and caches, the homes,
# this tree and the build directory.
snapshot() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp \
    -o -path /var/tmp -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/cache \
    -o -path /var/log -o -path /root -o -path /home -o -path "$here" -o -path "$build" \) \
    -prune -o -print | sort >"$1"
}

installed_packages() {
  dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' | sed -n 's/^ii *//p' | sort
}

# The printer file of a job: a valid stream of two pages.
check_printer_file() {
  [ -s "$1" ] || fail "$2: no printer file"
  report=$(/usr/bin/prndecode --check --json "$1") || fail "$2: prndecode: $report"
  pages=$(printf '%s\n' "$report" | sed -n 's/^"pages":\([0-9]*\).*/\1/p')
  [ "$pages" = 2 ] || fail "$2: $pages pages printed, not 2"
  echo "deb-test: $2: 2 pages, a valid printer stream"
}

write_document() {
  cat >"$work/doc.ps" <<'EOF'
%!PS-Adobe-3.0
%%Pages: 2
%%EndComments
/Times-Roman findfont 24 scalefont setfont
%%Page: 1 1
72 720 moveto (Package test, page 1) show 72 200 300 300 rectfill showpage
%%Page: 2 2
72 720 moveto (Package test, page 2) show 0.5 setgray 72 200 300 300 rectfill showpage
%%EOF
EOF
}

# A private cupsd on a socket of its own, with the system's filters (ours
# among them, where the package put them) and the system's PPDs.
print_with_cupsd() {
  c="$work/cups"
  mkdir -p "$c/conf" "$c/spool" "$c/tmp" "$c/cache" "$c/state" "$c/log" "$c/out" "$c/bin"
  chmod 1777 "$c/tmp"
  chmod 0777 "$c/out"
  for d in filter backend cgi-bin daemon monitor notifier; do
    ln -s "/usr/lib/cups/$d" "$c/bin/$d"
  done
  cat >"$c/conf/cups-files.conf" <<EOF
ServerRoot $c/conf
ServerBin $c/bin
RequestRoot $c/spool
TempDir $c/tmp
CacheDir $c/cache
StateDir $c/state
AccessLog $c/log/access_log
ErrorLog $c/log/error_log
PageLog $c/log/page_log
FileDevice Yes
User lp
Group lp
SystemGroup root
EOF
  cat >"$c/conf/cupsd.conf" <<EOF
Listen $c/sock
LogLevel debug
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
  /usr/sbin/cupsd -f -c "$c/conf/cupsd.conf" -s "$c/conf/cups-files.conf" >"$c/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  wait_for cupsd test -S "$c/sock"
  export CUPS_SERVER="$c/sock"
  # The PPD by the name CUPS gives the installed files, as a user finds it.
  lpadmin -p deb-test -E -v "file://$c/out/job.prn" -m lsb/usr/tesvel/tesvel-tz3010.ppd
  lp -d deb-test "$work/doc.ps"
  # shellcheck disable=SC2016
  wait_for "the CUPS job" sh -c '[ -z "$(lpstat -o deb-test)" ]'
  lpstat -W completed -o deb-test | grep -q . || fail "the CUPS job did not complete"
  check_printer_file "$c/out/job.prn" "installed filter under cupsd"
  unset CUPS_SERVER
  stop "$cupsd_pid"
  cupsd_pid=""
}

app_listening() {
  [ -S "$1/tesvel-printer-app.sock" ] && grep -q "connections on 'localhost:" "$1/log"
}

# The installed application: the service where systemd runs it, else
# started here the way the unit starts it, as the service user with the
# package's state and spool directories (its control socket and log in a
# private directory).
start_app() {
  if [ -d /run/systemd/system ]; then
    wait_for "the service" systemctl is-active --quiet tesvel-printer-app
    port=8000
    return
  fi
  a="$work/app"
  install -d -o $user -g lp -m 0700 "$a"
  export TESVEL_PRINTER_APP_DIR="$a"
  setpriv --reuid=$user --regid=lp --init-groups -- /usr/bin/tesvel-printer-app server \
    -o server-port=0 -o log-file="$a/log" -o log-level=info \
    -o state-file=$state/tesvel-printer-app.state \
    -o spool-directory=/var/spool/tesvel-printer-app >"$work/app.out" 2>&1 &
  app_pid=$!
  # Port 0: the server takes a free loopback port and logs it.
  wait_for "the Printer Application" app_listening "$a"
  port=$(sed -n "s/.*Listening for connections on 'localhost:\([0-9]*\)'.*/\1/p" "$a/log" | head -n 1)
}

print_with_app() {
  start_app
  out=$state/deb-test-out
  install -d -o $user -g lp -m 0700 "$out"
  tesvel-printer-app add -d deb-test -m tesvel_tc1110 -v "file://$out"
  ipptool -t -T 30 -f "$work/doc.ps" "ipp://localhost:$port/ipp/print/deb-test" print-job-and-wait.test ||
    fail "the Printer Application's job failed"
  check_printer_file "$(find "$out" -type f | head -n 1)" "installed Printer Application"
  if [ -n "$app_pid" ]; then
    stop "$app_pid"
    app_pid=""
  else
    tesvel-printer-app delete -d deb-test
  fi
}

# What the packages set up besides their files.
check_setup() {
  for d in $state /var/spool/tesvel-printer-app; do
    [ "$(stat -c '%U:%G %a' "$d")" = "$user:lp 700" ] || fail "$d: $(stat -c '%U:%G %a' "$d")"
  done
  id -nG $user | grep -qw lp || fail "$user is not in group lp"
  [ -L /etc/systemd/system/multi-user.target.wants/tesvel-printer-app.service ] ||
    fail "the service is not enabled"
  dpkg-query -W -f='${Conffiles}' tesvel-printer-app | grep -q /etc/default/tesvel-printer-app ||
    fail "/etc/default/tesvel-printer-app is not a conffile"
}

[ "$(id -u)" -eq 0 ] || fail "run it as root: it installs and purges packages"
for p in $pkgs; do
  case $(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true) in
    "" | un*) ;;
    *) fail "$p is installed already (purge it first)" ;;
  esac
done
# What an earlier `make install` or a run of the application as root left
# would be taken by the purge and spoil the comparison.
for f in /usr/lib/cups/filter/rasterfilter $state /var/spool/tesvel-printer-app; do
  [ ! -e "$f" ] || fail "$f exists already (left by make install?): remove it first"
done
work=$(mktemp -d)
chmod 0755 "$work"  # filters run as lp reach their files here
write_document

snapshot "$work/files-before"
installed_packages >"$work/packages-before"
apt-get install -y -q "$build"/printer-driver-tesvel_*.deb "$build"/tesvel-printer-app_*.deb
check_setup
print_with_cupsd
print_with_app

# Purge the packages and exactly what their install brought in (not
# apt-get autoremove, which would take unrelated packages too).
# shellcheck disable=SC2086
apt-get purge -y -q $pkgs
installed_packages | comm -13 "$work/packages-before" - >"$work/packages-new"
if [ -s "$work/packages-new" ]; then
  # shellcheck disable=SC2046
  apt-get purge -y -q $(cat "$work/packages-new")
fi
snapshot "$work/files-after"
diff -u "$work/files-before" "$work/files-after" >&2 || fail "the purge left the file system changed (above)"
echo "deb-test: installed, printed through cupsd and the Printer Application, purged without a trace"
