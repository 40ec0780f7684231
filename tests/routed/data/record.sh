#!/usr/bin/env bash
# Records what FRR's zebra sends over FPM (dplane_fpm_nl) into the files of
# this folder: static-routes.fpm, changes.fpm and replay.fpm, and rewrites
# the decoded listing in decoded.txt. Runs as root in two network namespaces
# of its own (routing side A with zebra and staticd, a peer B at the other
# end of a veth pair), which it deletes on exit.
#
# With next-hop groups off (as after "no fpm use-next-hop-groups"), the
# replay is also recorded into replay-no-nhg.fpm.
#
#   tests/routed/data/record.sh [OUT_DIR]    (default: this folder)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
helper=$here/../../../scripts/frr.py
out=${1:-$here}
frr=/usr/lib/frr
ns_a=zadu-rec-a-$$ ns_b=zadu-rec-b-$$
work=$(mktemp -d)
listener_pid=

cleanup() {
  local pid
  [ -n "$listener_pid" ] && { kill -9 "$listener_pid" 2>/dev/null || true; wait "$listener_pid" 2>/dev/null || true; }
  for pid in $(ip netns pids "$ns_a" 2>/dev/null) $(ip netns pids "$ns_b" 2>/dev/null); do
    kill -9 "$pid" 2>/dev/null || true
  done
  ip netns del "$ns_a" 2>/dev/null || true
  ip netns del "$ns_b" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() { echo "record: $*" >&2; tail -n 5 "$work"/*.log >&2 2>/dev/null || true; exit 1; }
# Waits until FILE exists and its size has not changed for 1 s (at most 20 s).
settle() {
  local file=$1 size=-1 same=0 deadline=$((SECONDS + 20))
  while [ "$same" -lt 10 ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$file did not settle within 20 s"
    local now
    now=$(stat -c %s "$file" 2>/dev/null || echo -1)
    if [ "$now" = "$size" ] && [ "$now" -gt 0 ]; then same=$((same + 1)); else same=0 size=$now; fi
    sleep 0.1
  done
}
vty() { ip netns exec "$ns_a" vtysh --vty_socket "$work" -c "configure terminal" "$@" >/dev/null; }

ip netns add "$ns_a"
ip netns add "$ns_b"
ip -n "$ns_a" link set lo up
ip -n "$ns_b" link set lo up
ip -n "$ns_a" link add veth0 type veth peer name veth1 netns "$ns_b"
ip -n "$ns_a" addr add 10.1.0.1/16 dev veth0
ip -n "$ns_b" addr add 10.1.0.2/16 dev veth1
ip -n "$ns_a" link set veth0 up
ip -n "$ns_b" link set veth1 up
# A route of the kernel's own (not zebra's): zebra learns it and sends it too.
ip -n "$ns_a" route add 10.77.0.0/16 via 10.1.0.5 dev veth0

chown frr:frr "$work"
cat >"$work/zebra.conf" <<CONF
hostname record
log file $work/zebra.log
fpm address 127.0.0.1
CONF
cat >"$work/staticd.conf" <<CONF
hostname record
log file $work/staticd.log
ip route 10.20.0.0/16 10.1.0.7
ip route 10.21.1.0/24 10.1.0.8
ip route 192.0.2.0/24 10.1.0.9
ip route 10.30.0.0/16 10.1.0.7
ip route 10.30.0.0/16 10.1.0.8
ip route 10.30.0.0/16 10.1.0.9
ip route 10.99.0.0/16 blackhole
ip route 10.98.0.0/16 reject
CONF
chown frr:frr "$work"/*.conf

ip netns exec "$ns_a" python3 "$helper" listen --record "$work/conn" &
listener_pid=$!
common=(-d -z "$work/zserv.api" --vty_socket "$work")
ip netns exec "$ns_a" "$frr/zebra" "${common[@]}" -f "$work/zebra.conf" -i "$work/zebra.pid" -M dplane_fpm_nl
ip netns exec "$ns_a" "$frr/staticd" "${common[@]}" -f "$work/staticd.conf" -i "$work/staticd.pid"

# 1. The table as zebra first sends it.
settle "$work/conn.1"
cp "$work/conn.1" "$out/static-routes.fpm"

# 2. A next hop changed, a route deleted, an ECMP route losing a gateway.
vty -c "ip route 10.21.1.0/24 10.1.0.10" -c "no ip route 10.21.1.0/24 10.1.0.8"
sleep 1
vty -c "no ip route 192.0.2.0/24 10.1.0.9"
sleep 1
vty -c "no ip route 10.30.0.0/16 10.1.0.9"
settle "$work/conn.1"
cp "$work/conn.1" "$out/changes.fpm"

# The listener closes the connection; zebra reconnects and replays into
# connection file $1, copied to $2 once it has settled.
record_replay() {
  kill -USR1 "$listener_pid"
  local deadline=$((SECONDS + 20))
  until [ -s "$work/$1" ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "zebra did not reconnect within 20 s"
    sleep 0.1
  done
  settle "$work/$1"
  cp "$work/$1" "$out/$2"
}

# 3. zebra's replay after a reconnection.
record_replay conn.2 replay.fpm

# 4. The same table without next-hop group objects: routes carry their own
# gateways (RTA_GATEWAY/RTA_OIF, or RTA_MULTIPATH).
vty -c "no fpm use-next-hop-groups"
record_replay conn.3 replay-no-nhg.fpm

(cd "$out" && python3 "$helper" decode static-routes.fpm changes.fpm replay.fpm replay-no-nhg.fpm) >"$out/decoded.txt"
ip -n "$ns_a" -d link show | grep -E '^[0-9]+:' >"$work/links"
echo "recorded into $out:"; ls -l "$out"/*.fpm
echo "links of the routing namespace:"; cat "$work/links"
