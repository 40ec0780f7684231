#!/usr/bin/env python3
"""Helpers of scripts/frr: everything that is easier in Python than in bash.

    frr.py listen [--record PREFIX] [--times FILE] [--quiet S]
        An FPM listener on 127.0.0.1:2620 that keeps or discards what zebra
        sends (connection k goes to PREFIX.k); SIGUSR1 closes the connection
        in progress, so zebra reconnects and replays its table.
    frr.py decode FILE...
        Prints a recorded FPM stream, one netlink message a line.
    frr.py feed --routes N --seed S --fifo F --expected E --state S
        ExaBGP's process: announces a generated Internet-like table, then
        takes commands from the FIFO (see Feed).
    frr.py statics --count N
        The staticd configuration lines: ECMP routes with 2 to 4 gateways.
    frr.py wait --ns NS --expected E --statics CONF --dump D --dump-pid P ...
        Waits until the kernel of NS holds what BGP and staticd should have
        given it, then until the hardware side's dump holds the kernel's
        table (see wait()).
    frr.py stand-in --dump D --units U --placement hash|all
        An FPM listener that decodes zebra's stream and writes, on SIGUSR1,
        the dump the hardware side would write: it stands in for the daemon
        and the hardware side, to try FRR and the checks without the build.
"""
import argparse
import ipaddress
import json
import os
import random
import select
import signal
import socket
import struct
import subprocess
import sys
import time
import zlib

FPM_PORT = 2620

# Netlink message types and attributes that zebra's FPM stream carries.
RTM_NEWROUTE, RTM_DELROUTE, RTM_NEWNEXTHOP, RTM_DELNEXTHOP = 24, 25, 104, 105
RTA_DST, RTA_OIF, RTA_GATEWAY, RTA_PRIORITY, RTA_PREFSRC = 1, 4, 5, 6, 7
RTA_MULTIPATH, RTA_TABLE, RTA_NH_ID = 9, 15, 30
NHA_ID, NHA_GROUP, NHA_BLACKHOLE, NHA_OIF, NHA_GATEWAY = 1, 2, 4, 5, 6
RTN_UNICAST, RTN_BLACKHOLE, RTN_UNREACHABLE, RTN_PROHIBIT = 1, 6, 7, 8
MESSAGES = {RTM_NEWROUTE: "NEWROUTE", RTM_DELROUTE: "DELROUTE",
            RTM_NEWNEXTHOP: "NEWNEXTHOP", RTM_DELNEXTHOP: "DELNEXTHOP"}
PROTOCOLS = {2: "kernel", 3: "boot", 4: "static", 11: "zebra", 186: "bgp", 196: "frr-static"}
ROUTE_TYPES = {0: "unspec", 1: "unicast", 2: "local", 6: "blackhole", 7: "unreachable", 8: "prohibit"}
DROP = "0.0.0.0@0"  # the drop adjacency: blackhole, unreachable, prohibit


# ---------------------------------------------------------------- FPM stream

def frames(stream):
    """(offset, payload) of each whole FPM frame; the rest is left over."""
    offset = 0
    while offset + 4 <= len(stream):
        _, _, length = struct.unpack_from("!BBH", stream, offset)
        if length < 4 or offset + length > len(stream):
            break
        yield offset, stream[offset + 4:offset + length]
        offset += length


def messages(payload):
    """(type, flags, body) of each netlink message of a frame."""
    while len(payload) >= 16:
        length, kind, flags, _, _ = struct.unpack_from("=IHHII", payload)
        if length < 16:
            break
        yield kind, flags, payload[16:length]
        payload = payload[(length + 3) & ~3:]


def attributes(data):
    while len(data) >= 4:
        length, kind = struct.unpack_from("=HH", data)
        if length < 4:
            break
        yield kind & 0x3FFF, data[4:length]
        data = data[(length + 3) & ~3:]


def text_address(family, raw):
    if family == socket.AF_INET and len(raw) == 4:
        return str(ipaddress.IPv4Address(raw))
    if family == socket.AF_INET6 and len(raw) == 16:
        return str(ipaddress.IPv6Address(raw))
    return raw.hex()


def parse_route(body):
    """A route message as a dict: family, prefix, table, protocol, type,
    nh_id, and paths [(gateway or None, ifindex)] carried in the route."""
    family, dst_len, _, _, table, protocol, scope, rtype, _ = struct.unpack_from("=BBBBBBBBI", body)
    route = {"family": family, "length": dst_len, "table": table, "protocol": protocol,
             "scope": scope, "type": rtype, "nh_id": None, "paths": [], "other": {}}
    dst = bytes(4 if family == socket.AF_INET else 16)
    gateway = oif = None
    for kind, value in attributes(body[12:]):
        if kind == RTA_DST:
            dst = value
        elif kind == RTA_TABLE:
            route["table"] = struct.unpack("=I", value)[0]
        elif kind == RTA_NH_ID:
            route["nh_id"] = struct.unpack("=I", value)[0]
        elif kind == RTA_PRIORITY:
            route["metric"] = struct.unpack("=I", value)[0]
        elif kind == RTA_PREFSRC:
            route["prefsrc"] = text_address(family, value)
        elif kind == RTA_GATEWAY:
            gateway = text_address(family, value)
        elif kind == RTA_OIF:
            oif = struct.unpack("=i", value)[0]
        elif kind == RTA_MULTIPATH:  # rtnexthop {len, flags, hops, ifindex} + attributes
            while len(value) >= 8:
                length, _, _, ifindex = struct.unpack_from("=HBBi", value)
                hop_gateway = [text_address(family, v) for t, v in attributes(value[8:length])
                               if t == RTA_GATEWAY]
                route["paths"].append((hop_gateway[0] if hop_gateway else None, ifindex))
                value = value[(length + 3) & ~3:]
        else:
            route["other"][kind] = value.hex()
    if gateway is not None or oif is not None:
        route["paths"].append((gateway, oif or 0))
    route["prefix"] = f"{text_address(family, dst)}/{dst_len}"
    return route


def parse_nexthop(body):
    """A next-hop message as a dict: id, family, protocol, group [(id,
    weight)], blackhole, gateway, oif."""
    family, scope, protocol, _, flags = struct.unpack_from("=BBBBI", body)
    nexthop = {"id": None, "family": family, "protocol": protocol, "scope": scope, "flags": flags,
               "group": None, "blackhole": False, "gateway": None, "oif": None, "other": {}}
    for kind, value in attributes(body[8:]):
        if kind == NHA_ID:
            nexthop["id"] = struct.unpack("=I", value)[0]
        elif kind == NHA_GROUP:  # nexthop_grp {u32 id, u8 weight - 1, u8, u16}
            nexthop["group"] = [(i, w + 1) for i, w in
                                (struct.unpack_from("=IB", value, o) for o in range(0, len(value), 8))]
        elif kind == NHA_BLACKHOLE:
            nexthop["blackhole"] = True
        elif kind == NHA_OIF:
            nexthop["oif"] = struct.unpack("=i", value)[0]
        elif kind == NHA_GATEWAY:
            nexthop["gateway"] = text_address(family, value)
        else:
            nexthop["other"][kind] = value.hex()
    return nexthop


def describe(kind, flags, body):
    if kind in (RTM_NEWROUTE, RTM_DELROUTE):
        r = parse_route(body)
        words = [MESSAGES[kind], r["prefix"], f"table={r['table']}",
                 f"proto={PROTOCOLS.get(r['protocol'], r['protocol'])}", f"scope={r['scope']}",
                 f"type={ROUTE_TYPES.get(r['type'], r['type'])}"]
        words += [f"{k}={r[k]}" for k in ("metric", "prefsrc", "nh_id") if r.get(k) is not None]
        words += [f"path={g or '-'}@{i}" for g, i in r["paths"]]
        words += [f"attr{k}={v}" for k, v in r["other"].items()]
    elif kind in (RTM_NEWNEXTHOP, RTM_DELNEXTHOP):
        n = parse_nexthop(body)
        words = [MESSAGES[kind], f"id={n['id']}", f"family={n['family']}",
                 f"proto={PROTOCOLS.get(n['protocol'], n['protocol'])}", f"scope={n['scope']}"]
        if n["group"] is not None:
            words.append("group=" + ",".join(f"{i}/{w}" for i, w in n["group"]))
        if n["blackhole"]:
            words.append("blackhole")
        words += [f"{k}={n[k]}" for k in ("gateway", "oif") if n[k] is not None]
        words += [f"attr{k}={v}" for k, v in n["other"].items()]
    else:
        words = [f"type={kind}", f"{len(body) + 16} bytes"]
    return " ".join(words) + f" nlflags={flags:#x}"


def decode(args):
    for name in args.files:
        with open(name, "rb") as f:
            stream = f.read()
        print(f"== {os.path.basename(name)}: {len(stream)} bytes")
        end = number = 0
        for offset, payload in frames(stream):
            number += 1
            end = offset + 4 + len(payload)
            for kind, flags, body in messages(payload):
                print(f"frame {number} @{offset} len {len(payload) + 4}: {describe(kind, flags, body)}")
        if end != len(stream):
            print(f"left over: {len(stream) - end} bytes")


# ---------------------------------------------------------------- listeners

class Stop:
    """SIGTERM/SIGINT end a listener; SIGUSR1 closes its connection and
    SIGUSR2 asks for a dump (the stand-in)."""

    def __init__(self):
        self.stop = self.close = self.dump = False
        signal.signal(signal.SIGTERM, self._stop)
        signal.signal(signal.SIGINT, self._stop)
        signal.signal(signal.SIGUSR1, self._close)

    def _stop(self, *_):
        self.stop = True

    def _close(self, *_):
        self.close = True


def serve(handle, stop, idle=None):
    """Accepts zebra's connections one after the other; handle(k, data)
    gets the bytes of connection k as they come (b"" once at its start),
    idle(k) is called every 0.1 s."""
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", FPM_PORT))
    server.listen(1)
    count = 0
    buffer = bytearray(1 << 20)
    while not stop.stop:
        if idle:
            idle(count)
        ready, _, _ = select.select([server], [], [], 0.1)
        if not ready:
            continue
        conn, _ = server.accept()
        count += 1
        stop.close = False
        handle(count, b"")
        while not stop.stop and not stop.close:
            ready, _, _ = select.select([conn], [], [], 0.1)
            if idle:
                idle(count)
            if not ready:
                continue
            try:
                n = conn.recv_into(buffer)
            except ConnectionError:
                break
            if n == 0:
                break
            handle(count, bytes(buffer[:n]))
        conn.close()
    server.close()


def listen(args):
    """Keeps each connection's bytes (--record), or only reads them; with
    --times, a line "k bytes first last" (time.time()) for each burst of a
    connection that ends with --quiet seconds without bytes, or its close."""
    stop = Stop()
    state = {"k": 0, "size": 0, "first": 0.0, "last": 0.0, "out": None}

    def note():
        if args.times and state["size"]:
            with open(args.times, "a") as out:
                out.write(f"{state['k']} {state['size']} {state['first']:.6f} {state['last']:.6f}\n")
        state["size"] = 0

    def handle(k, data):
        now = time.time()
        if k != state["k"]:
            note()
            if state["out"]:
                state["out"].close()
            state.update(k=k, out=open(f"{args.record}.{k}", "wb") if args.record else None)
        if data:
            if not state["size"]:
                state["first"] = now
            state["size"] += len(data)
            state["last"] = now
            if state["out"]:
                state["out"].write(data)
                state["out"].flush()

    def idle(_):
        if state["size"] and time.time() - state["last"] >= args.quiet:
            note()

    serve(handle, stop, idle)
    note()


class Table:
    """What zebra's stream says: next-hop objects and IPv4 routes of the
    main table, as "prefix/len" -> sorted paths "GATEWAY@IFINDEX"."""

    def __init__(self):
        self.nexthops = {}
        self.routes = {}

    def paths(self, route):
        if route["type"] in (RTN_BLACKHOLE, RTN_UNREACHABLE, RTN_PROHIBIT):
            return [DROP]
        if route["nh_id"] is not None:
            return self.nexthop_paths(route["nh_id"])
        return sorted(f"{g or '0.0.0.0'}@{i}" for g, i in route["paths"])

    def nexthop_paths(self, nh_id, depth=0):
        nexthop = self.nexthops.get(nh_id)
        if nexthop is None or depth > 2:
            return [f"missing-nexthop-{nh_id}"]
        if nexthop["blackhole"]:
            return [DROP]
        if nexthop["group"] is not None:
            return sorted({p for i, _ in nexthop["group"] for p in self.nexthop_paths(i, depth + 1)})
        return [f"{nexthop['gateway'] or '0.0.0.0'}@{nexthop['oif'] or 0}"]

    def take(self, kind, body):
        if kind in (RTM_NEWNEXTHOP, RTM_DELNEXTHOP):
            nexthop = parse_nexthop(body)
            if kind == RTM_NEWNEXTHOP:
                self.nexthops[nexthop["id"]] = nexthop
            else:
                self.nexthops.pop(nexthop["id"], None)
            return
        if kind not in (RTM_NEWROUTE, RTM_DELROUTE):
            return
        route = parse_route(body)
        if route["family"] != socket.AF_INET or route["table"] != 254:
            return
        if kind == RTM_DELROUTE:
            self.routes.pop(route["prefix"], None)
        else:
            self.routes[route["prefix"]] = route


def stand_in(args):
    """Plays the daemon and the hardware side: a new connection starts a new
    table (zebra replays everything on it); SIGUSR1 writes the dump."""
    stop = Stop()
    signal.signal(signal.SIGUSR1, lambda *_: setattr(stop, "dump", True))
    state = {"k": 0, "table": Table(), "rest": b""}

    def handle(k, data):
        if k != state["k"]:
            state.update(k=k, table=Table(), rest=b"")
        stream = state["rest"] + data
        end = 0
        for offset, payload in frames(stream):
            end = offset + 4 + len(payload)
            for kind, _, body in messages(payload):
                state["table"].take(kind, body)
        state["rest"] = stream[end:]

    def idle(_):
        if not stop.dump:
            return
        stop.dump = False
        table = state["table"]
        lines = []
        for prefix, route in table.routes.items():
            nexthop = ",".join(table.paths(route))
            units = range(args.units) if args.placement == "all" else \
                [zlib.crc32(prefix.encode()) % args.units]
            lines += [f"{unit} {prefix} {nexthop}\n" for unit in units]
        with open(args.dump + ".tmp", "w") as out:
            out.writelines(lines)
        os.rename(args.dump + ".tmp", args.dump)

    serve(handle, stop, idle)


# ---------------------------------------------------------------- the feed

# Shares of prefix lengths in a public IPv4 table, per 10,000 routes.
LENGTH_SHARES = {24: 5900, 22: 1150, 23: 1000, 21: 550, 20: 450, 19: 300, 18: 160, 16: 140,
                 17: 90, 15: 20, 14: 20, 13: 15, 12: 10, 11: 6, 10: 4, 9: 3, 8: 2,
                 25: 10, 26: 10, 27: 10, 28: 10, 29: 10, 30: 10, 31: 5, 32: 15}
NEXT_HOPS = 300


def next_hop(i):
    return f"10.1.{1 + i // 200}.{1 + i % 200}"


def generate(routes, seed):
    """routes distinct prefixes, none in 0/8, 10/8, 127/8 or 224/3 (so none
    meets the link 10.1.0.0/16 or the static routes), each with a next hop."""
    rng = random.Random(seed)
    lengths = list(LENGTH_SHARES)
    weights = [LENGTH_SHARES[n] for n in lengths]
    table = {}
    while len(table) < routes:
        length = rng.choices(lengths, weights)[0]
        address = rng.getrandbits(32) & (0xFFFFFFFF << (32 - length)) & 0xFFFFFFFF
        first = address >> 24
        if first in (0, 10, 127) or first >= 224:
            continue
        prefix = f"{ipaddress.IPv4Address(address)}/{length}"
        if prefix not in table:
            table[prefix] = rng.randrange(NEXT_HOPS)
    return table


class Feed:
    """ExaBGP's process. Announces the generated table, grouped by next hop
    (many prefixes per "announce attributes" line: one update each), then
    reads commands from the FIFO, one a line:

        withdraw P   withdraw P % of the announced routes
        move P       give P % of the announced routes another next hop
        restore      announce again every withdrawn route

    After each, it writes the table BGP now holds to --expected ("prefix
    gateway" lines) and then "SEQ ANNOUNCED" to --state, SEQ counting the
    commands done (0 after the first announcement)."""

    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed * 7919 + 1)
        self.table = generate(args.routes, args.seed)
        self.withdrawn = {}
        self.seq = 0

    def send(self, action, by_hop):
        for hop, prefixes in sorted(by_hop.items()):
            for i in range(0, len(prefixes), 400):
                print(f"{action} attributes next-hop {next_hop(hop)} nlri {' '.join(prefixes[i:i + 400])}")
        sys.stdout.flush()

    @staticmethod
    def group(items):
        by_hop = {}
        for prefix, hop in items:
            by_hop.setdefault(hop, []).append(prefix)
        return by_hop

    def publish(self):
        expected = self.args.expected
        with open(expected + ".tmp", "w") as out:
            out.writelines(f"{p} {next_hop(h)}\n" for p, h in self.table.items())
        os.rename(expected + ".tmp", expected)
        with open(self.args.state + ".tmp", "w") as out:
            out.write(f"{self.seq} {len(self.table)}\n")
        os.rename(self.args.state + ".tmp", self.args.state)

    def sample(self, percent):
        prefixes = sorted(self.table)
        return self.rng.sample(prefixes, min(len(prefixes), len(prefixes) * percent // 100))

    def command(self, line):
        words = line.split()
        if words[:1] == ["withdraw"]:
            gone = {p: self.table.pop(p) for p in self.sample(int(words[1]))}
            self.withdrawn.update(gone)
            self.send("withdraw", self.group(gone.items()))
        elif words[:1] == ["move"]:
            moved = {p: (self.table[p] + 1 + self.rng.randrange(NEXT_HOPS - 1)) % NEXT_HOPS
                     for p in self.sample(int(words[1]))}
            self.table.update(moved)
            self.send("announce", self.group(moved.items()))
        elif words[:1] == ["restore"]:
            back, self.withdrawn = self.withdrawn, {}
            self.table.update(back)
            self.send("announce", self.group(back.items()))
        elif words:
            print(f"feed: unknown command {line!r}", file=sys.stderr)

    def run(self):
        self.send("announce", self.group(self.table.items()))
        self.publish()
        # Opened for reading and writing, the FIFO never reports an end
        # when a writer closes it.
        fd = os.open(self.args.fifo, os.O_RDWR)
        pending = b""
        while True:
            data = os.read(fd, 65536)
            pending += data
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                self.command(line.decode())
                self.seq += 1
                self.publish()


def feed(args):
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # ExaBGP gone: end quietly
    Feed(args).run()


def statics(args):
    """staticd lines: COUNT routes 10.2.K.0/24 with 2 to 4 gateways among
    10.1.0.10-10.1.0.29, and a blackhole."""
    rng = random.Random(args.count)
    for k in range(args.count):
        for gateway in sorted(rng.sample(range(10, 30), 2 + k % 3)):
            print(f"ip route 10.2.{k}.0/24 10.1.0.{gateway}")
    print("ip route 10.99.0.0/16 blackhole")


# ---------------------------------------------------------------- checking

def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True, timeout=60).stdout


def kernel_table(namespace):
    """The IPv4 main table of the namespace's kernel, as zebra programmed it:
    prefix -> (protocol, sorted paths). A path is "GATEWAY@IFINDEX"; a route
    on a link without a gateway (the connected route) is 0.0.0.0@IFINDEX; a
    blackhole, unreachable or prohibit route is the drop adjacency 0.0.0.0@0."""
    links = {link["ifname"]: link["ifindex"]
             for link in json.loads(run(["ip", "-n", namespace, "-j", "link", "show"]))}
    routes = json.loads(run(["ip", "-n", namespace, "-4", "-j", "route", "show", "table", "main"]))
    table = {}
    for route in routes:
        dst = route["dst"]
        prefix = "0.0.0.0/0" if dst == "default" else dst if "/" in dst else dst + "/32"
        kind = route.get("type", "unicast")
        if kind in ("blackhole", "unreachable", "prohibit"):
            paths = [DROP]
        elif kind != "unicast":
            continue
        else:
            hops = route.get("nexthops") or [route]
            paths = sorted(f"{h.get('gateway', '0.0.0.0')}@{links.get(h.get('dev'), 0)}" for h in hops)
        table[prefix] = (route.get("protocol", "boot"), paths)
    return table


def read_statics(conf):
    """prefix -> sorted gateways (or ["blackhole"]) of staticd's lines."""
    wanted = {}
    for line in open(conf):
        words = line.split()
        if words[:2] == ["ip", "route"]:
            wanted.setdefault(words[2], []).append(words[3])
    return {p: sorted(g) for p, g in wanted.items()}


def kernel_behind(table, expected, statics):
    """What the kernel still lacks or holds too much of, against the table
    BGP should have given it and the static routes; [] when it has caught up."""
    problems = []
    bgp = {p: paths for p, (proto, paths) in table.items() if proto == "bgp"}
    for prefix, gateway in expected.items():
        got = bgp.get(prefix)
        if got is None or [path.split("@")[0] for path in got] != [gateway]:
            problems.append(f"bgp {prefix}: kernel {got}, announced {gateway}")
    problems += [f"bgp {p}: in the kernel, withdrawn" for p in bgp if p not in expected]
    for prefix, gateways in statics.items():
        proto, paths = table.get(prefix, (None, []))
        got = ["blackhole"] if paths == [DROP] else [path.split("@")[0] for path in paths]
        if proto != "static" or got != gateways:
            problems.append(f"static {prefix}: kernel {proto} {paths}, configured {gateways}")
    return problems


def read_dump(name):
    """prefix -> [(unit, sorted paths)] from the hardware side's dump."""
    dump = {}
    for line in open(name):
        words = line.split(None, 2)
        if len(words) != 3:
            continue
        unit, prefix, nexthop = words
        paths = nexthop.strip()
        paths = sorted(paths.split(",")) if "@" in paths else [paths]
        dump.setdefault(prefix, []).append((int(unit), paths))
    return dump


def compare(kernel, dump, units, placement):
    """Lines that say where the hardware side differs from the kernel."""
    differences = []
    for prefix, (_, paths) in sorted(kernel.items()):
        entries = dump.get(prefix, [])
        where = sorted(unit for unit, _ in entries)
        if not entries:
            differences.append(f"- {prefix} {','.join(paths)} (not in the hardware)")
            continue
        wrong = [(u, p) for u, p in entries if p != paths]
        if wrong:
            differences.append(f"! {prefix} kernel {','.join(paths)}, hardware " +
                               "; ".join(f"unit {u} {','.join(p)}" for u, p in wrong))
        if placement == "hash" and len(where) != 1:
            differences.append(f"! {prefix} on units {where} (hash placement: exactly one)")
        elif placement == "all" and where != list(range(units)):
            differences.append(f"! {prefix} on units {where} (every unit 0-{units - 1})")
    for prefix in sorted(set(dump) - set(kernel)):
        for unit, paths in dump[prefix]:
            differences.append(f"+ {unit} {prefix} {','.join(paths)} (not in the kernel)")
    return differences


def take_dump(args):
    """Asks the dump from --dump-pid (SIGUSR1) and waits until the file is
    written again (it is removed first) and its size holds still."""
    try:
        os.unlink(args.dump)
    except FileNotFoundError:
        pass
    os.kill(args.dump_pid, signal.SIGUSR1)
    deadline = time.time() + max(10.0, args.timeout / 4)
    size = -1
    while time.time() < deadline:
        time.sleep(0.05)
        try:
            now = os.stat(args.dump).st_size
        except FileNotFoundError:
            continue
        if now == size:
            return True
        size = now
    return False


def count_bgp(namespace):
    out = subprocess.run(["ip", "-n", namespace, "-4", "route", "show", "table", "main", "proto", "bgp"],
                         check=True, capture_output=True, timeout=60).stdout
    return out.count(b"\n") - out.count(b"\n\t")  # multipath routes continue on tab lines


def alive(pids):
    """The first pid that is gone or a zombie, or None."""
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as stat:
                if stat.read().rsplit(")", 1)[1].split()[0] == "Z":
                    return pid
        except FileNotFoundError:
            return pid
    return None


def wait(args):
    """Waits until the kernel holds what BGP announced and staticd was told
    (first by counting BGP routes, then route by route), then until the
    hardware side's dump equals the kernel's IPv4 main table. Prints
    "kernel: ..." times (--kernel-times) and "consistent after S s", or the
    differences (first 20, counts; all of them in --differences) and exits 1;
    exits 3 when one of --alive stopped."""
    start = time.time()
    deadline = start + args.timeout
    expected = dict(line.split() for line in open(args.expected))
    statics = read_statics(args.statics)
    watched = [int(p) for p in args.alive.split(",") if p] if args.alive else []
    first_bgp = None
    behind = differences = None
    while time.time() < deadline:
        stopped = alive(watched)
        if stopped:
            print(f"process {stopped} stopped")
            sys.exit(3)
        count = count_bgp(args.ns)
        if count and first_bgp is None:
            first_bgp = time.time()
        if count != len(expected):
            behind = [f"the kernel holds {count} BGP routes of {len(expected)} announced"]
            time.sleep(0.1)
            continue
        kernel = kernel_table(args.ns)
        behind = kernel_behind(kernel, expected, statics)
        if behind:
            time.sleep(0.2)
            continue
        if args.kernel_times:
            took = time.time() - first_bgp if first_bgp else 0.0
            print(f"kernel: {len(expected)} BGP routes, {took:.2f} s from the first"
                  f" (polled; the whole wait {time.time() - start:.2f} s)")
            args.kernel_times = False
        if args.no_hardware:
            print(f"kernel caught up after {time.time() - start:.2f} s")
            return
        if not take_dump(args):
            differences = ["the hardware side wrote no dump"]
            continue
        differences = compare(kernel, read_dump(args.dump), args.units, args.placement)
        if not differences:
            print(f"consistent after {time.time() - start:.2f} s ({len(kernel)} routes)")
            return
        time.sleep(0.2)
    if differences is None:
        print(f"the kernel did not catch up within {args.timeout} s: {len(behind)} differences")
        lines = behind
    else:
        print(f"the hardware side differs from the kernel: {len(differences)} differences; "
              f"{sum(d.startswith('-') for d in differences)} missing, "
              f"{sum(d.startswith('+') for d in differences)} extra, "
              f"{sum(d.startswith('!') for d in differences)} wrong")
        lines = differences
    for line in lines[:20]:
        print("  " + line)
    if args.differences:
        with open(args.differences, "w") as out:
            out.writelines(line + "\n" for line in lines)
    sys.exit(1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("listen")
    p.add_argument("--record")
    p.add_argument("--times")
    p.add_argument("--quiet", type=float, default=0.5)
    p.set_defaults(run=listen)
    p = sub.add_parser("decode")
    p.add_argument("files", nargs="+")
    p.set_defaults(run=decode)
    p = sub.add_parser("feed")
    for name in ("--routes", "--seed"):
        p.add_argument(name, type=int, required=True)
    for name in ("--fifo", "--expected", "--state"):
        p.add_argument(name, required=True)
    p.set_defaults(run=feed)
    p = sub.add_parser("statics")
    p.add_argument("--count", type=int, default=36)
    p.set_defaults(run=statics)
    p = sub.add_parser("wait")
    for name in ("--ns", "--expected", "--statics", "--dump"):
        p.add_argument(name, required=True)
    p.add_argument("--dump-pid", type=int, default=0)
    p.add_argument("--units", type=int, default=4)
    p.add_argument("--placement", choices=("hash", "all"), default="hash")
    p.add_argument("--timeout", type=float, default=60)
    p.add_argument("--alive", help="pids, comma-separated, that must keep running")
    p.add_argument("--differences", help="file for every difference at a timeout")
    p.add_argument("--kernel-times", action="store_true")
    p.add_argument("--no-hardware", action="store_true", help="wait for the kernel only")
    p.set_defaults(run=wait)
    p = sub.add_parser("stand-in")
    p.add_argument("--dump", required=True)
    p.add_argument("--units", type=int, default=4)
    p.add_argument("--placement", choices=("hash", "all"), default="hash")
    p.set_defaults(run=stand_in)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
