#!/usr/bin/env bash
# zadulpm-routed as an operator meets it, in a network namespace of its own
# with the hardware side over a fresh shared-memory root:
#
#   FPM     zebra's recorded streams played by a Python peer: the routes
#           reach the hardware; a second connection is refused; a stream
#           that loses its framing is dropped and nothing committed is lost;
#           a reconnection replays, and the sweep removes only what the
#           replay lacks, after the quiet period; a SIGKILLed daemon restored
#           from shared memory takes the same replay with no write; a
#           non-loopback address needs --allow-remote.
#   kernel  `ip route` and next-hop objects followed live; routes changed
#           while the daemon was down are put right by the dump at restart,
#           and nothing else is written.
#
#   tests/routed/daemon-test.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
if [ "$(id -u)" != 0 ]; then
  echo "daemon-test: skipped: network namespaces need root"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
data=$here/data
routed=$build_dir/routed/zadulpm-routed
hw=$build_dir/hw/zadulpm-hw
ns=zadu-routed-test-$$
work=$(mktemp -d)
export ZADU_SHM_ROOT=$work/shm
mkdir -p "$ZADU_SHM_ROOT"
routed_pid= hw_pid= player=

cleanup() {
  for pid in $player $routed_pid $hw_pid; do
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "daemon-test: $1" >&2
  echo "--- the daemon's log:" >&2
  tail -n 15 "$work/routed.log" >&2 || true
  echo "--- the hardware side's log:" >&2
  tail -n 5 "$work/hw.log" >&2 || true
  exit 1
}
# Waits up to 10 s for `grep -c PATTERN` in the daemon's log to reach N.
wait_log() {
  local pattern=$1 count=$2 deadline=$((SECONDS + 10))
  until [ "$(grep -c -- "$pattern" "$work/routed.log" || true)" -ge "$count" ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "no '$pattern' (x$count) in the daemon's log after 10 s"
    sleep 0.05
  done
}
# Waits up to 10 s for the hardware side's dump to equal the lines given.
expect_hardware() {
  local expected deadline=$((SECONDS + 10))
  expected=$(printf '%s\n' "$@" | sort)
  while :; do
    rm -f "$work/tcam.txt"
    kill -USR1 "$hw_pid"
    local tries=0
    until [ -f "$work/tcam.txt" ] || [ $tries -ge 40 ]; do sleep 0.05; tries=$((tries + 1)); done
    [ "$(sort "$work/tcam.txt" 2>/dev/null)" = "$expected" ] && return 0
    if [ "$SECONDS" -ge "$deadline" ]; then
      diff <(echo "$expected") <(sort "$work/tcam.txt") >&2 || true
      fail "the hardware does not hold the routes expected"
    fi
    sleep 0.1
  done
}
# Plays FILE ($1) on a connection held open until the daemon's log shows
# its N-th ($2) "fpm resync done", as zebra keeps its connection.
play_until_swept() {
  touch "$work/hold"
  play "$1" hold &
  player=$!
  wait_log "fpm resync done" "$2"
  rm "$work/hold"
  wait "$player"
}
start_routed() {
  ip netns exec "$ns" "$routed" "$@" >>"$work/routed.log" 2>&1 &
  routed_pid=$!
}
# Plays recorded FPM files, one connection each, over 127.0.0.1:2620;
# "hold" keeps the last connection open while $work/hold exists (at most
# 10 s), as zebra keeps its connection; "pause=N" sends the first N bytes
# of each file, then the rest once $work/pause is gone.
play() {
  ip netns exec "$ns" python3 - "$@" "$work/pause" "$work/hold" <<'EOF'
import os, socket, sys, time
pause_file, hold_file = sys.argv[-2:]
pause = [int(a[6:]) for a in sys.argv[1:-2] if a.startswith("pause=")]
files = [a for a in sys.argv[1:-2] if a != "hold" and not a.startswith("pause=")]

def wait_for_release(flag):
    deadline = time.time() + 10
    while os.path.exists(flag) and time.time() < deadline:
        time.sleep(0.02)

for index, name in enumerate(files):
    deadline = time.time() + 10
    while True:
        try:
            peer = socket.create_connection(("127.0.0.1", 2620), timeout=5)
            break
        except OSError:
            if time.time() > deadline:
                sys.exit("no FPM listener on 127.0.0.1:2620")
            time.sleep(0.05)
    with open(name, "rb") as stream:
        data = stream.read()
    if pause:
        peer.sendall(data[:pause[0]])
        wait_for_release(pause_file)
        data = data[pause[0]:]
    peer.sendall(data)
    if "hold" in sys.argv and index == len(files) - 1:
        wait_for_release(hold_file)
    peer.close()
EOF
}

# A run killed on its timeout cannot clean up: its namespace goes now.
for stale in $(ip netns list | grep -o '^zadu-routed-test-[0-9]*'); do
  kill -0 "${stale##*-}" 2>/dev/null || ip netns del "$stale" 2>/dev/null || true
done
ip netns add "$ns"
ip -n "$ns" link set lo up
"$hw" --verify --dump "$work/tcam.txt" --wait 30 >"$work/hw.log" 2>&1 &
hw_pid=$!

echo "daemon-test: FPM"
start_routed --units 2 --placement hash --resync-quiet 0.3
wait_log "listening for FPM" 1
# zebra's first connection: eight routes (the IPv6 one skipped); they spread
# over two units by prefix hash.
touch "$work/hold"
play "$data/static-routes.fpm" hold &
player=$!
wait_log "fpm resync done" 1
# A second peer while the first is connected is refused by name.
ip netns exec "$ns" python3 -c '
import socket
peer = socket.create_connection(("127.0.0.1", 2620), timeout=5)
peer.settimeout(5)
peer.recv(1)' || true
wait_log "refused an FPM connection from 127.0.0.1" 1
rm "$work/hold"
wait "$player"
before=(
  "0.0.0.0@2 10.1.0.0/16" "10.1.0.7@2 10.20.0.0/16" "10.1.0.8@2 10.21.1.0/24"
  "10.1.0.7@2,10.1.0.8@2,10.1.0.9@2 10.30.0.0/16" "10.1.0.5@2 10.77.0.0/16"
  "0.0.0.0@0 10.98.0.0/16" "0.0.0.0@0 10.99.0.0/16" "10.1.0.9@2 192.0.2.0/24")
lines() {  # "NEXTHOP PREFIX" pairs to the dump's "UNIT PREFIX NEXTHOP", unit by hash
  for pair in "$@"; do
    set -- $pair
    grep -E " $2 " "$work/placed.txt" | cut -d' ' -f1 | sed "s|\$| $2 $1|"
  done
}
expect_placed() {  # the units the hash picked, read once from the first dump
  local deadline=$((SECONDS + 10))
  while :; do
    rm -f "$work/tcam.txt"
    kill -USR1 "$hw_pid"
    sleep 0.2
    [ "$(wc -l <"$work/tcam.txt" 2>/dev/null || echo 0)" -eq 8 ] && break
    [ "$SECONDS" -lt "$deadline" ] || fail "the hardware does not hold the first eight routes"
  done
  cp "$work/tcam.txt" "$work/placed.txt"
  [ "$(cut -d' ' -f1 "$work/placed.txt" | sort -u | wc -l)" -eq 2 ] ||
    fail "--placement hash put every route on one unit"
}
expect_placed
mapfile -t expected < <(lines "${before[@]}")
expect_hardware "${expected[@]}"

# A stream that loses its framing is dropped; what it carried stays.
printf '\x01\x01\x00\x02garbage' >"$work/garbage.fpm"
play "$work/garbage.fpm"
wait_log "framing lost: a frame length below" 1
expect_hardware "${expected[@]}"

# A reconnection replays zebra's table after two changes: 10.21.1.0/24 has a
# new next hop, 10.30.0.0/16 a smaller group, and 192.0.2.0/24 is gone. Only
# the sweep, after the quiet period, removes it.
play_until_swept "$data/replay.fpm" 2
grep "fpm resync done" "$work/routed.log" | tail -n 1 | grep -q ", 1 swept" ||
  fail "the replay's sweep did not remove exactly one route"
after=(
  "0.0.0.0@2 10.1.0.0/16" "10.1.0.7@2 10.20.0.0/16" "10.1.0.10@2 10.21.1.0/24"
  "10.1.0.7@2,10.1.0.8@2 10.30.0.0/16" "10.1.0.5@2 10.77.0.0/16"
  "0.0.0.0@0 10.98.0.0/16" "0.0.0.0@0 10.99.0.0/16")
mapfile -t expected < <(lines "${after[@]}")
expect_hardware "${expected[@]}"

# Warm restart: a SIGKILLed daemon restores the units and takes the same
# replay without a single write.
kill -9 "$routed_pid"
wait "$routed_pid" 2>/dev/null || true
start_routed --units 2 --placement hash --resync-quiet 0.3
wait_log "restored 7 routes over 2 units" 1
play_until_swept "$data/replay.fpm" 3
grep "fpm resync done" "$work/routed.log" | tail -n 1 | grep -q "7 refreshed, 0 written, 7 unchanged, 0 swept" ||
  fail "the warm restart's replay wrote to the hardware"
expect_hardware "${expected[@]}"
# A restarted zebra sends its connected routes first and the rest as its
# daemons come back: a replay that lacks more than a quarter of the routes
# does not end on the quiet period.
touch "$work/pause" "$work/hold"
play "$data/replay.fpm" pause=488 hold &
player=$!
wait_log "6 of 7 routes not replayed yet" 1
grep -c "fpm resync done" "$work/routed.log" | grep -qx 3 || fail "a partial replay was swept"
rm "$work/pause"
wait_log "fpm resync done" 4
rm "$work/hold"
wait "$player"
grep "fpm resync done" "$work/routed.log" | tail -n 1 | grep -q "7 refreshed, 0 written, 7 unchanged, 0 swept" ||
  fail "the replay that came back whole wrote to the hardware"
# zebra changes a route as a delete and a new route in one frame: a change
# to what the unit holds already costs neither a remove nor a write.
head -c 1092 "$data/changes.fpm" | tail -c 152 >"$work/change.fpm"
touch "$work/hold"
play "$work/change.fpm" hold &
player=$!
wait_log "resync begins" 6
rm "$work/hold"
wait "$player"
wait_log "no sweep" 2
kill -USR1 "$routed_pid"
wait_log "statistics: routes 7 (fpm), writes 0, unchanged 15, removes 0" 1

# A full adjacency table refuses routes and says so; once the sweep of the
# routes this replay lacks frees their next hops, the refused routes are
# written again: 4,096 of 4,100 routes, each with a next hop of its own,
# then forward.
python3 - "$work/many.fpm" <<'EOF'
import struct, sys
def attribute(kind, payload):
    return struct.pack("=HH", 4 + len(payload), kind) + payload
frames = bytearray()
for n in range(4100):
    body = struct.pack("=BBBBBBBBI", 2, 32, 0, 0, 254, 186, 0, 1, 0)  # rtmsg: IPv4 /32, main, unicast
    body += attribute(1, struct.pack("!I", (30 << 24) | n))                # RTA_DST 30.0.x.y
    body += attribute(5, struct.pack("!I", (10 << 24) | (2 << 16) | n))   # RTA_GATEWAY 10.2.x.y
    body += attribute(4, struct.pack("=I", 2))                            # RTA_OIF 2
    message = struct.pack("=IHHII", 16 + len(body), 24, 0x501, 0, 0) + body
    frames += struct.pack("!BBH", 1, 1, 4 + len(message)) + message
open(sys.argv[1], "wb").write(frames)
EOF
play_until_swept "$work/many.fpm" 5
wait_log "the adjacency table is full" 1
wait_log "refused routes written again" 1
deadline=$((SECONDS + 10))
until rm -f "$work/tcam.txt" && kill -USR1 "$hw_pid" && sleep 0.3 &&
  [ "$(wc -l <"$work/tcam.txt" 2>/dev/null || echo 0)" -eq 4096 ]; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the hardware does not hold 4,096 routes after the retry"
done
kill -TERM "$routed_pid"
deadline=$((SECONDS + 10))
while kill -0 "$routed_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.05; done
kill -0 "$routed_pid" 2>/dev/null && fail "the daemon did not stop within 10 s of SIGTERM"
wait "$routed_pid" || fail "the daemon did not stop cleanly on SIGTERM"
routed_pid=

# Whoever connects programs the switch: loopback only unless told.
status=0
ip netns exec "$ns" "$routed" --fpm 10.9.9.9:2620 >"$work/remote.log" 2>&1 || status=$?
[ "$status" = 2 ] && grep -q "not a loopback address" "$work/remote.log" ||
  fail "a non-loopback FPM address was not refused (status $status)"

echo "daemon-test: kernel"
ip -n "$ns" link add va type veth peer name vb
ip -n "$ns" addr add 10.1.0.1/16 dev va
ip -n "$ns" link set va up
ip -n "$ns" link set vb up
va=$(ip -n "$ns" -o link show va | cut -d: -f1)
ip -n "$ns" route add 20.0.0.0/24 via 10.1.0.5
ip -n "$ns" route add 20.0.1.0/24 nexthop via 10.1.0.5 nexthop via 10.1.0.6
ip -n "$ns" route add blackhole 20.0.2.0/24
ip -n "$ns" route add 20.0.9.0/24 via 10.1.0.5 table 100
start_routed --kernel --units 1 --placement all
wait_log "kernel resync done" 1
ip -n "$ns" nexthop add id 7 via 10.1.0.9 dev va
ip -n "$ns" route add 20.0.3.0/24 nhid 7
ip -n "$ns" route del 20.0.0.0/24
expect_hardware "0 10.1.0.0/16 0.0.0.0@$va" "0 20.0.1.0/24 10.1.0.5@$va,10.1.0.6@$va" \
  "0 20.0.2.0/24 0.0.0.0@0" "0 20.0.3.0/24 10.1.0.9@$va"
# A changed object moves its routes.
ip -n "$ns" nexthop replace id 7 via 10.1.0.11 dev va
expect_hardware "0 10.1.0.0/16 0.0.0.0@$va" "0 20.0.1.0/24 10.1.0.5@$va,10.1.0.6@$va" \
  "0 20.0.2.0/24 0.0.0.0@0" "0 20.0.3.0/24 10.1.0.11@$va"
# Changes made while the daemon is down are put right by the dump, and only
# they are written.
kill -9 "$routed_pid"
wait "$routed_pid" 2>/dev/null || true
ip -n "$ns" route del blackhole 20.0.2.0/24
ip -n "$ns" route add 20.0.4.0/24 via 10.1.0.7
start_routed --kernel --units 1 --placement all
wait_log "kernel resync done" 2
grep "kernel resync done" "$work/routed.log" | tail -n 1 |
  grep -q "4 refreshed, 1 written, 3 unchanged, 1 swept" || fail "the restart's dump wrote more than the changes"
expect_hardware "0 10.1.0.0/16 0.0.0.0@$va" "0 20.0.1.0/24 10.1.0.5@$va,10.1.0.6@$va" \
  "0 20.0.3.0/24 10.1.0.11@$va" "0 20.0.4.0/24 10.1.0.7@$va"
# An interface that goes down takes its routes along, without a message for
# each: the daemon dumps the table again.
ip -n "$ns" link set va down
wait_log "again after an interface went down" 1
expect_hardware
ip -n "$ns" link set va up
expect_hardware "0 10.1.0.0/16 0.0.0.0@$va"
echo "daemon-test: passed"
