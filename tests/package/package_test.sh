#!/usr/bin/env bash
# The Debian package, passed by lintian, installed on this machine and used
# from its installed files only, with its build tree moved away: a send and a
# receive against the simulated machine arrive byte-exact, the sample shop.ini
# passes --check, the unit verifies, starts only with /etc/ferobrixlan/shop.ini
# and can be enabled, the service's user is there, man finds every page;
# remove and purge leave no file of the package and keep the shop's programs.
# Needs root; the machine is left as it was found. Exit code 77: skipped.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing the package needs root"
    exit 77
fi
if dpkg-query -W -f='${Status}' ferobrixlan 2>/dev/null | grep -q 'ok installed' ||
    getent passwd ferobrixlan >/dev/null || [ -e /etc/ferobrixlan ] || [ -e /var/lib/ferobrixlan ]; then
    echo "skipped: ferobrixlan's package, user or files are on this machine already"
    exit 77
fi
exec 9>/run/lock/ferobrixlan-package-test
flock 9

deb=$("$src/scripts/package" --lintian)
build=$(dirname "$deb")
work=$(mktemp -d)
home=/var/lib/ferobrixlan
wants=/etc/systemd/system/multi-user.target.wants/ferobrixlan-server.service
made=($home /etc/ferobrixlan)
for dir in /srv/nc /srv/nc/mill-1 /srv/nc/lathe-2; do
    [ -e $dir ] || made+=("$dir")
done
cleanup() {
    kill $(jobs -p) 2>/dev/null || true
    dpkg -P ferobrixlan >/dev/null 2>&1 || true
    [ -d "$build.away" ] && mv "$build.away" "$build"
    userdel ferobrixlan 2>/dev/null || true
    rm -f /srv/nc/mill-1/O7001-package-test.nc $wants
    rm -rf "${made[@]}" "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    tail -n 20 "$work"/*.log >&2 || true
    exit 1
}
step() { echo "== $*"; }

step install
cp "$deb" "$work/"
apt-get install -y -q -o DPkg::Lock::Timeout=600 "$work/$(basename "$deb")" >"$work/apt.log" 2>&1 ||
    fail "apt-get install"
mv "$build" "$build.away"
cd "$work"
export PATH=/usr/sbin:/usr/bin:/sbin:/bin

# machine ROLE LINK ARGS...: the simulated machine, once its line is there.
machine() {
    ferobrixlan-machine "$1" "${@:3}" --link "$work/$2" --wait 0.3 --idle 30 --quiet \
        >/dev/null 2>>machine.log &
    for _ in $(seq 100); do [ -e "$work/$2" ] && return; sleep 0.1; done
    fail "no line from ferobrixlan-machine $1"
}
step "send and receive against the simulated machine"
printf '%%\r\nO1000 (PACKAGE)\r\nG0X1.Y2.\r\nM30\r\n%%' >prog.nc
machine receive to-machine --out machine.nc
FEROBRIXLAN_PORT1=$work/to-machine timeout 60 ferobrixlan-cli send prog.nc </dev/null 2>>cli.log ||
    fail "send"
wait
cmp prog.nc machine.nc || fail "the machine did not get the program byte-exact"
ferobrixlan-cli settings >/dev/null 2>>cli.log
sed -i 's|"NOMAL"|"Data In/Out"|' ferobrixlan.cfg
grep -q 'Data In/Out' ferobrixlan.cfg || fail "no receive mode to set"
machine punch from-machine prog.nc
FEROBRIXLAN_PORT1=$work/from-machine timeout 60 ferobrixlan-cli receive got.nc --yes </dev/null \
    2>>cli.log || fail "receive"
printf '\r\n' | cat - prog.nc | cmp - got.nc || fail "the received file is not the program"

step "the service: sample configuration, unit, user"
mkdir -p /srv/nc/mill-1 /srv/nc/lathe-2 $home/programs
echo '%O7001%' >/srv/nc/mill-1/O7001-package-test.nc
echo '%O7002%' >$home/programs/O7002.nc
ferobrixlan-server --config /usr/share/ferobrixlan/shop.ini.example --check >check.log 2>&1 ||
    fail "--check of the installed sample"
[ "$(grep -c 'ready to start' check.log)" = 2 ] || fail "not both machines of the sample are ready"
systemd-analyze verify /lib/systemd/system/ferobrixlan-server.service >verify.log 2>&1 &&
    [ ! -s verify.log ] || fail "systemd-analyze verify"
starts() { systemd-analyze condition --unit=ferobrixlan-server.service >/dev/null 2>&1; }
! starts || fail "the unit starts without /etc/ferobrixlan/shop.ini"
mkdir -p /etc/ferobrixlan && cp /usr/share/ferobrixlan/shop.ini.example /etc/ferobrixlan/shop.ini
starts || fail "the unit does not start with /etc/ferobrixlan/shop.ini"
systemctl enable ferobrixlan-server >>dpkg.log 2>&1 || fail "systemctl enable"
IFS=: read -r _ _ _ gid _ dir _ < <(getent passwd ferobrixlan) || fail "no user ferobrixlan"
[ "$gid" = "$(getent group dialout | cut -d: -f3)" ] && [ "$dir" = $home ] || fail "user ferobrixlan"
[ "$(stat -c %U $home)" = ferobrixlan ] || fail "$home is not the user's"
for page in 1/ferobrixlan 1/ferobrixlan-cli 1/ferobrixlan-machine 8/ferobrixlan-server 5/shop.ini; do
    man -w "${page%/*}" "${page#*/}" >/dev/null || fail "no manual page ${page#*/}(${page%/*})"
done

step "remove, then purge"
dpkg -L ferobrixlan | while read -r f; do [ -d "$f" ] || echo "$f"; done >files.log
echo '{"direction":"receive"}' >$home/journal.jsonl
dpkg -r ferobrixlan >dpkg.log 2>&1 || fail "dpkg -r"
while read -r f; do [ ! -e "$f" ] || fail "$f is left after remove"; done <files.log
[ -s $home/journal.jsonl ] && [ -e /etc/ferobrixlan/shop.ini ] && getent passwd ferobrixlan >/dev/null ||
    fail "remove took the shop's files"
dpkg -P ferobrixlan >dpkg.log 2>&1 || fail "dpkg -P"
[ ! -e $home/journal.jsonl ] || fail "purge left the journal"
[ -s /srv/nc/mill-1/O7001-package-test.nc ] && [ -s $home/programs/O7002.nc ] ||
    fail "purge took a shop's program"
! getent passwd ferobrixlan >/dev/null || fail "purge left the user"
[ ! -L $wants ] || fail "purge left the unit enabled"
echo "installed package: every check passed"
