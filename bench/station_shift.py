#!/usr/bin/python3
"""A continuous station over simulated shifts: how soon a unit starts after
it is plugged in, how soon a line of its worker reaches the page, what the
station costs while the bench is idle, and whether it holds its memory,
descriptors and threads over a long shift.

    bench/station_shift.py [arrival|idle|soak|all] [--units N] [--soak-units N]
                           [--spacing S] [--together K] [--soak-speed N]
                           [--idle-seconds S]

Runs the simulated-device build (build/sim/quorl-station, or QUORL_STATION)
on the rehearsal bench samples/bench-2x4.toml (8 slots on the simulator's hub
ports 1 to 8) with --continuous --events, over a shift written for each run
(QUORL_SIM_SHIFT): a controller plugged into a slot every SPACING seconds
(default 0.3), round the slots, each taken out as the next one goes into its
slot, and updated with samples/controller_firmware.bin. With --together K (2,
4 or 8) the units come K at once, as from a tray, every K * SPACING seconds.

  arrival  --units (200) units with the page open and one client on /events:
           from each unit's plug (its time in the shift on the station's clock,
           which starts as the station opens its USB watch, just before its
           first "counters" event) to its "started" event; and from each "line"
           event on standard output to the same line on the page's stream.
  idle     no unit, three clients on /events, --idle-seconds (30): CPU of the
           station from /proc/PID/stat.
  soak     --soak-units (2000) units, the shift played --soak-speed (1.5)
           times as fast, --log to a temporary file, one client on /events:
           VmRSS, open descriptors and threads, each looked at while the bench
           is empty after unit 200 and after the last unit. The simulator
           keeps something of every unit a shift plugs in; quorl-devices
           --watch (build/sim/quorl-devices, or QUORL_DEVICES) plays the same
           shift at the same pace over the same simulator, and its growth is
           taken from the station's. The station starts at most about one unit
           every 150 ms: at a faster pace units leave before they start.

Goals: start median <= 0.5 s and worst <= 1 s; line to page median <= 100 ms;
idle CPU <= 1 % of one core; soak VmRSS grows <= 1 MiB beyond the
simulator's growth, descriptors and threads the same. Exit status 0 when every goal measured is met, 1 when one
is missed, 2 when a run went wrong.
"""

import argparse
import json
import math
import os
import re
import selectors
import signal
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STATION = os.environ.get("QUORL_STATION", os.path.join(ROOT, "build/sim/quorl-station"))
DEVICES = os.environ.get("QUORL_DEVICES", os.path.join(ROOT, "build/sim/quorl-devices"))
BENCH_MAP = os.path.join(ROOT, "samples/bench-2x4.toml")
IMAGE = os.path.join(ROOT, "samples/controller_firmware.bin")
SLOTS = 8  # the map's slots A1..B4, at hub ports 1..8
PAGE_URL = re.compile(r"the bench's page: http://127\.0\.0\.1:(\d+)/")


class SetupError(Exception):
    pass


# --- the shift ------------------------------------------------------------

def write_shift(path, units, spacing, first_at, together=1, gap_after=None, gap=0.0):
    """Unit i goes into slot i % 8 at first_at + i * spacing (plus gap from
    unit gap_after on), or with `together` units at once, the same number of
    units a second; the unit before it in that slot is taken out at the same
    moment, and the last of each run of units a little before the next would
    have come. Returns each unit's serial number and plug time."""
    plugged = []
    for i in range(units):
        at = first_at + (i // together) * together * spacing
        at += gap if gap_after is not None and i >= gap_after else 0.0
        plugged.append((f"QC7F{i:04d}", at))
    events = []
    for i, (serial, at) in enumerate(plugged):
        port = i % SLOTS + 1
        events.append((at, 1, f"plug controller port {port} serial {serial}"))
        follower = i + SLOTS
        same_run = gap_after is None or (i < gap_after) == (follower < gap_after)
        if follower < units and same_run:
            events.append((plugged[follower][1], 0, f"unplug port {port}"))
        else:
            events.append((at + (SLOTS - 0.5) * spacing, 0, f"unplug port {port}"))
    events.sort()
    with open(path, "w") as shift:
        for at, _, text in events:
            shift.write(f"at {at:.4f} {text}\n")
    return plugged


# --- the page's event stream ----------------------------------------------

class PageClient:
    """One reader of /events, as a browser would be: HTTP/1.1 with a chunked
    body of server-sent events."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.sock.sendall(f"GET /events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                          f"Accept: text/event-stream\r\n\r\n".encode())
        self.sock.setblocking(False)
        self.raw = b""
        self.body = b""
        self.in_body = False
        self.chunk_left = None  # bytes of the current chunk still to come (with its CR LF)
        self.snapshot = None
        self.ended = False

    def feed(self, data):
        """The messages completed by these bytes: (name, data) each."""
        self.raw += data
        if not self.in_body:
            head_end = self.raw.find(b"\r\n\r\n")
            if head_end < 0:
                return []
            head = self.raw[:head_end].decode("latin-1")
            if not head.startswith("HTTP/1.1 200") or "chunked" not in head.lower():
                raise SetupError(f"/events answered: {head.splitlines()[0]}")
            self.raw = self.raw[head_end + 4:]
            self.in_body = True
        while True:
            if self.chunk_left is None:
                line_end = self.raw.find(b"\r\n")
                if line_end < 0:
                    break
                size = int(self.raw[:line_end].split(b";")[0], 16)
                self.raw = self.raw[line_end + 2:]
                if size == 0:
                    self.ended = True
                    break
                self.chunk_left = size + 2
            if len(self.raw) < self.chunk_left:
                break
            self.body += self.raw[:self.chunk_left - 2]
            self.raw = self.raw[self.chunk_left:]
            self.chunk_left = None
        messages = []
        while (end := self.body.find(b"\n\n")) >= 0:
            block = self.body[:end].decode()
            self.body = self.body[end + 2:]
            name, data = "message", []
            for line in block.split("\n"):
                if line.startswith("event: "):
                    name = line[7:]
                elif line.startswith("data: "):
                    data.append(line[6:])
            if data:
                messages.append((name, json.loads("\n".join(data))))
        return messages


# --- the station as a process ---------------------------------------------

class Station:
    """The station with --bench --continuous --events (or another program
    that writes one JSON object a line), its streams read as they come, each
    line stamped with the monotonic clock when it was read."""

    def __init__(self, options, env, command=None):
        environment = dict(os.environ, QUORL_SIM_DEVICES="none", **env)
        self.spawned = time.monotonic()
        self.proc = subprocess.Popen(
            command or [STATION, "--bench", BENCH_MAP, "--continuous", "--events", *options, "--", IMAGE],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment)
        self.selector = selectors.DefaultSelector()
        self.pending = {}
        for source, stream in (("out", self.proc.stdout), ("err", self.proc.stderr)):
            os.set_blocking(stream.fileno(), False)
            self.selector.register(stream.fileno(), selectors.EVENT_READ, source)
            self.pending[source] = b""
        self.clients = []
        self.events = []       # (time read, event) from standard output
        self.changes = []      # (time read, client, change) from the page's streams
        self.errors = []
        self.open_streams = 2
        self.first_counters = None

    def connect_page(self, count):
        port = None
        deadline = time.monotonic() + 10
        while port is None and time.monotonic() < deadline:
            self.poll(0.1)
            for _, event in self.events:
                if event.get("event") == "notice" and (found := PAGE_URL.search(event.get("text", ""))):
                    port = int(found.group(1))
        if port is None:
            raise SetupError("the station did not say where its page is: " + " | ".join(self.errors))
        for _ in range(count):
            client = PageClient(port)
            self.selector.register(client.sock, selectors.EVENT_READ, client)
            self.clients.append(client)
        while any(client.snapshot is None for client in self.clients):
            if time.monotonic() > deadline:
                raise SetupError("a client of /events got no snapshot")
            self.poll(0.1)

    def poll(self, timeout):
        """Reads whatever came within the timeout; false once the station
        has closed its standard output and error."""
        for key, _ in self.selector.select(timeout):
            source = key.data
            if isinstance(source, PageClient):
                try:
                    data = source.sock.recv(65536)
                except BlockingIOError:
                    continue
                now = time.monotonic()
                if not data:
                    self.selector.unregister(source.sock)
                    continue
                for name, message in source.feed(data):
                    if name == "snapshot":
                        source.snapshot = message
                    elif name == "change":
                        self.changes.append((now, source, message))
                continue
            data = os.read(key.fd, 65536)
            now = time.monotonic()
            if not data:
                self.selector.unregister(key.fd)
                self.open_streams -= 1
                continue
            lines = (self.pending[source] + data).split(b"\n")
            self.pending[source] = lines.pop()
            for line in lines:
                if source == "err":
                    self.errors.append(line.decode(errors="replace"))
                    continue
                event = json.loads(line)
                if event.get("event") == "counters" and self.first_counters is None:
                    self.first_counters = now
                self.events.append((now, event))
        return self.open_streams > 0

    def wait_for(self, condition, limit, beside=()):
        """Reads until the condition holds, reading the programs beside too."""
        deadline = time.monotonic() + limit
        while not condition():
            for other in beside:
                other.poll(0)
            if time.monotonic() > deadline or self.proc.poll() is not None and self.open_streams == 0:
                counts = ", ".join(f"{kind} {self.count(kind)}" for kind in ("arrived", "started", "ended", "removed"))
                raise SetupError(f"the station did not get there in time ({counts}): " +
                                 " | ".join(self.errors[-5:]))
            self.poll(0.05)

    def stop(self):
        """Ctrl+C as an operator would press it; the station finishes its units."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
        deadline = time.monotonic() + 30
        while self.poll(0.1):
            if time.monotonic() > deadline:
                self.proc.kill()
                break
        for client in self.clients:
            client.sock.close()
        return self.proc.wait()

    def count(self, kind):
        return sum(1 for _, event in self.events if event.get("event") == kind)

    def proc_path(self, name):
        return f"/proc/{self.proc.pid}/{name}"

    def cpu_seconds(self):
        """User and system CPU of the whole process, and the sum of its
        threads' run time from the scheduler (finer than the clock ticks)."""
        fields = open(self.proc_path("stat")).read().rsplit(")", 1)[1].split()
        ticks = int(fields[11]) + int(fields[12])
        run_ns = 0
        for task in os.listdir(self.proc_path("task")):
            try:
                run_ns += int(open(self.proc_path(f"task/{task}/schedstat")).read().split()[0])
            except (FileNotFoundError, ProcessLookupError):
                pass
        return ticks / os.sysconf("SC_CLK_TCK"), run_ns / 1e9

    def wakeups(self):
        total = 0
        for task in os.listdir(self.proc_path("task")):
            for line in open(self.proc_path(f"task/{task}/status")):
                if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                    total += int(line.split()[1])
        return total

    def resources(self):
        rss = next(int(line.split()[1]) for line in open(self.proc_path("status"))
                   if line.startswith("VmRSS:"))
        return {"rss_kib": rss,
                "fds": len(os.listdir(self.proc_path("fd"))),
                "threads": len(os.listdir(self.proc_path("task")))}


# --- figures ----------------------------------------------------------------

def percentile(values, share):
    """Nearest rank: the smallest value with at least this share at or below it."""
    ordered = sorted(values)
    return ordered[max(0, min(len(ordered) - 1, math.ceil(len(ordered) * share) - 1))]


def spread(values):
    return percentile(values, 0.5), percentile(values, 0.95), max(values)


def ms(seconds):
    return f"{seconds * 1000:8.1f} ms"


def verdict(met, text):
    print(f"  {'met:   ' if met else 'MISSED:'} {text}")
    return met


# --- the benchmarks ---------------------------------------------------------

def arrival(args, work):
    shift = os.path.join(work, "arrival-shift.txt")
    # The first unit comes after the page's client has connected.
    plugged = write_shift(shift, args.units, args.spacing, first_at=2.0, together=args.together)
    station = Station(["--dashboard", "127.0.0.1:0"], {"QUORL_SIM_SHIFT": shift})
    try:
        station.connect_page(1)
        last_plug = plugged[-1][1]
        station.wait_for(lambda: station.count("ended") >= args.units, last_plug + 30)
    finally:
        status = station.stop()
    if station.first_counters is None:
        raise SetupError("no counters event from the station")
    zero = station.first_counters
    plug_at = {serial: zero + at for serial, at in plugged}
    arrived, started = {}, {}
    for read, event in station.events:
        kind = event.get("event")
        if kind in ("arrived", "started") and event.get("serial") in plug_at:
            (arrived if kind == "arrived" else started).setdefault(event["serial"], read)
    missing = [serial for serial in plug_at if serial not in started]
    passed = sum(1 for _, event in station.events if event.get("event") == "ended"
                 and event.get("result") == "PASS")
    to_start = [started[serial] - plug_at[serial] for serial in started]
    to_arrive = [arrived[serial] - plug_at[serial] for serial in arrived]
    arrived_to_start = [started[serial] - arrived[serial] for serial in started if serial in arrived]

    # The page: each tile change pairs with the station's event for that slot
    # in turn (the client connected before any unit came, so it saw them all).
    per_slot_events, per_slot_changes = {}, {}
    for read, event in station.events:
        if event.get("event") in ("arrived", "started", "line", "progress", "ended", "removed"):
            per_slot_events.setdefault(event["slot"], []).append((read, event))
    for read, _, change in station.changes:
        if "tile" in change:
            per_slot_changes.setdefault(change["tile"]["slot"], []).append((read, change))
    line_delays, unmatched = [], 0
    for slot, events in per_slot_events.items():
        changes = per_slot_changes.get(slot, [])
        unmatched += abs(len(events) - len(changes))
        for (said, event), (shown, change) in zip(events, changes):
            if event["event"] != "line":
                continue
            if change["tile"]["line"] != event["text"]:
                unmatched += 1
                continue
            line_delays.append(shown - said)

    placed = (f"one plugged every {args.spacing} s" if args.together == 1 else
              f"{args.together} plugged at once every {args.together * args.spacing:.1f} s")
    print(f"Arrival to start: {args.units} units on {SLOTS} slots, {placed}, "
          f"page open with one client (exit status {status})")
    print(f"  started {len(to_start)}, passed {passed}, never started {len(missing)}")
    print(f"  {'':28} {'median':>11} {'95th pct':>11} {'worst':>11}")
    for name, values in (("plug -> started", to_start), ("plug -> arrived (seen)", to_arrive),
                         ("arrived -> started", arrived_to_start)):
        if values:
            median, p95, worst = spread(values)
            print(f"  {name:28} {ms(median)} {ms(p95)} {ms(worst)}")
    offset = zero - station.spawned
    print(f"  (the shift's clock taken from the first counters event; from the "
          f"process's start instead every figure would be at most {offset * 1000:.0f} ms more)")
    print(f"Line to page: {len(line_delays)} lines, {unmatched} changes unmatched")
    ok = not missing and status == 0 and bool(to_start)
    if line_delays:
        median, p95, worst = spread(line_delays)
        print(f"  {'stdout line -> /events tile':28} {ms(median)} {ms(p95)} {ms(worst)}")
    median, _, worst = spread(to_start) if to_start else (float("inf"),) * 3
    ok &= verdict(median <= 0.5 and worst <= 1.0,
                  f"plug to start median {median:.3f} s (<= 0.5), worst {worst:.3f} s (<= 1)")
    line_median = spread(line_delays)[0] if line_delays else float("inf")
    ok &= verdict(line_median <= 0.1 and unmatched == 0,
                  f"line to page median {line_median * 1000:.1f} ms (<= 100), every line shown")
    return ok


def idle(args, work):
    station = Station(["--dashboard", "127.0.0.1:0"], {})
    try:
        station.connect_page(3)
        settle = time.monotonic() + 2
        while time.monotonic() < settle:
            station.poll(0.1)
        ticks_before, run_before = station.cpu_seconds()
        wakeups_before = station.wakeups()
        began = time.monotonic()
        while time.monotonic() < began + args.idle_seconds:
            station.poll(0.5)
        ticks_after, run_after = station.cpu_seconds()
        wakeups = station.wakeups() - wakeups_before
        lasted = time.monotonic() - began
        threads = station.resources()["threads"]
    finally:
        status = station.stop()
    share = (ticks_after - ticks_before) / lasted
    print(f"Idle: no unit, 3 clients on /events, {lasted:.1f} s (exit status {status})")
    print(f"  CPU {ticks_after - ticks_before:.3f} s by /proc/PID/stat ({share * 100:.3f} % of one core); "
          f"threads' run time {run_after - run_before:.4f} s ({(run_after - run_before) / lasted * 100:.3f} %)")
    print(f"  {wakeups / lasted:.1f} context switches a second over {threads} threads")
    return verdict(share <= 0.01 and status == 0, f"idle CPU {share * 100:.3f} % of one core (<= 1 %)")


def soak(args, work):
    shift = os.path.join(work, "soak-shift.txt")
    log = os.path.join(work, "soak.jsonl")
    speed = args.soak_speed
    checkpoint = min(200, args.soak_units)
    # After unit 200, the bench stands empty for 4 s of real time: the slots
    # are seen empty after the removal grace, and then looked at.
    plugged = write_shift(shift, args.soak_units, args.spacing, first_at=2.0 * speed,
                          gap_after=checkpoint, gap=4.0 * speed)
    environment = {"QUORL_SIM_SHIFT": shift, "QUORL_SIM_SHIFT_SPEED": str(speed)}
    station = Station(["--dashboard", "127.0.0.1:0", "--log", log, "--removal-grace", "0.5"], environment)
    # The simulator keeps something of every unit plugged in; the device
    # listing's watch plays the same shift over the same simulator, and so
    # shows what of the growth is the simulator's.
    watch = Station([], environment, command=[DEVICES, "--watch", "--json"])
    looks = []
    try:
        station.connect_page(1)
        # Each unit leaves its slot once, by the next unit or by the grace.
        for units in (checkpoint, args.soak_units):
            limit = plugged[units - 1][1] / speed + 30
            station.wait_for(lambda: station.count("removed") >= units, limit, beside=[watch])
            watch.wait_for(lambda: watch.count("removed") >= units, limit, beside=[station])
            settle = time.monotonic() + 0.5
            while time.monotonic() < settle:
                station.poll(0.02)
                watch.poll(0.02)
            looks.append((station.resources(), watch.resources()))
        began = station.first_counters
    finally:
        status = station.stop()
        watch.stop()
    started, ended_count = station.count("started"), station.count("ended")
    passed = sum(1 for _, event in station.events if event.get("event") == "ended"
                 and event.get("result") == "PASS")
    dropped = sum(1 for client in station.clients if client.ended)
    lasted = station.events[-1][0] - began
    print(f"Soak: {args.soak_units} units on {SLOTS} slots, the shift {speed} times as fast (a unit every "
          f"{args.spacing / speed * 1000:.0f} ms), --log, one client on /events (exit status {status})")
    print(f"  started {started}, ended {ended_count}, passed {passed} in {lasted:.0f} s; "
          f"page streams dropped {dropped}; log {os.path.getsize(log) // 1024} KiB")
    print(f"  {'':22} {'VmRSS':>10} {'fds':>5} {'threads':>8} {'simulator alone':>16}")
    for name, (look, alone) in zip((f"after unit {checkpoint}", f"after unit {args.soak_units}"), looks):
        print(f"  {name:22} {look['rss_kib']:6d} KiB {look['fds']:5d} {look['threads']:8d} "
              f"{alone['rss_kib']:12d} KiB")
    (first, first_alone), (last, last_alone) = looks
    growth = last["rss_kib"] - first["rss_kib"]
    simulator = last_alone["rss_kib"] - first_alone["rss_kib"]
    print(f"  VmRSS grew {growth:+d} KiB; the simulator alone (quorl-devices --watch over the same "
          f"shift) {simulator:+d} KiB")
    ok = verdict(status == 0 and started == passed == args.soak_units and dropped == 0,
                 "every unit started and passed, the page's stream kept (else slow the shift)")
    ok &= verdict(growth - simulator <= 1024,
                  f"VmRSS grew {growth - simulator:+d} KiB beyond the simulator's growth (<= 1024)")
    ok &= verdict(first["fds"] == last["fds"] and first["threads"] == last["threads"],
                  "descriptors and threads the same")
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("which", nargs="?", default="all", choices=["arrival", "idle", "soak", "all"])
    parser.add_argument("--units", type=int, default=200)
    parser.add_argument("--soak-units", type=int, default=2000)
    parser.add_argument("--spacing", type=float, default=0.3)
    parser.add_argument("--together", type=int, default=1, choices=[1, 2, 4, 8])
    parser.add_argument("--soak-speed", type=float, default=1.5)
    parser.add_argument("--idle-seconds", type=float, default=30)
    args = parser.parse_args()
    for program in (STATION, DEVICES):
        if not os.access(program, os.X_OK):
            print(f"No {program}: build first (scripts/build.sh).", file=sys.stderr)
            return 2
    print(f"{os.cpu_count()} cores, load {os.getloadavg()[0]:.1f}")
    ok = True
    with tempfile.TemporaryDirectory(prefix="quorl_station_shift.") as work:
        try:
            for name, bench in (("arrival", arrival), ("idle", idle), ("soak", soak)):
                if args.which in (name, "all"):
                    ok &= bench(args, work)
        except SetupError as error:
            print(f"bench/station_shift.py: {error}", file=sys.stderr)
            return 2
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
