#!/usr/bin/python3
"""The bench's page served by a Windows program under Wine, read from Linux.

    dashboard_under_wine.py PAGE_DIR [--status N] -- wine PROGRAM.exe ARGS...

Starts the program (its standard input a pipe held open), learns its port
from the address it prints, then reads the page, the state, the first
message of the event stream, and is refused a write and a foreign Host. Ends
the program as Ctrl+C would and checks that the port is closed then (and
that it ended with status N, for a program that serves its own stop). Prints
"ok: ..." or "FAILED: ..." a check; exits 1 when any failed. Every wait has a
deadline on the monotonic clock: the check never hangs.
"""
import http.client
import json
import os
import re
import select
import signal
import socket
import subprocess
import sys
import time

START_WAIT = 60  # seconds: a first start of Wine's services is slow
REQUEST_WAIT = 10
END_WAIT = 15
ADDRESS = re.compile(rb"http://127\.0\.0\.1:(\d+)/")

failures = 0


def report(passed, label, detail=""):
    global failures
    if passed:
        print(f"ok: {label}")
    else:
        failures += 1
        print(f"FAILED: {label}")
        if detail:
            print(f"  {detail}")
    sys.stdout.flush()


def learn_port(process):
    """The port in the first address the program prints, within START_WAIT."""
    deadline = time.monotonic() + START_WAIT
    seen = b""
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return None, seen
        ready, _, _ = select.select([process.stdout], [], [], min(left, 0.5))
        if not ready:
            if process.poll() is not None:
                # Ended: a process Wine started may still hold the pipe open.
                return None, seen + f" (ended with status {process.returncode})".encode()
            continue
        chunk = os.read(process.stdout.fileno(), 4096)
        if not chunk:
            return None, seen  # the program ended, or closed its output
        seen += chunk
        found = ADDRESS.search(seen)
        if found:
            return int(found.group(1)), seen


def request(port, method, path, host=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=REQUEST_WAIT)
    try:
        connection.putrequest(method, path, skip_host=True)
        connection.putheader("Host", host or f"127.0.0.1:{port}")
        connection.endheaders()
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def first_event(port):
    """The first server-sent event of /events: its name and its data, parsed."""
    with socket.create_connection(("127.0.0.1", port), timeout=REQUEST_WAIT) as stream:
        stream.sendall(f"GET /events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        deadline = time.monotonic() + REQUEST_WAIT
        received = b""
        # Chunked: the message ends with its blank line inside the first chunk.
        while b"\n\n" not in received.partition(b"\r\n\r\n")[2] and time.monotonic() < deadline:
            chunk = stream.recv(65536)
            if not chunk:
                break
            received += chunk
    head, _, body = received.partition(b"\r\n\r\n")
    fields = {}
    for line in body.decode("utf-8", "replace").split("\n"):
        name, colon, value = line.partition(": ")
        if colon and name in ("event", "data"):
            fields[name] = value
    return head.decode("latin-1"), fields.get("event"), json.loads(fields.get("data", "null"))


def port_closed(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=REQUEST_WAIT).close()
        return False
    except OSError:
        return True


def check(page_dir, port):
    with open(os.path.join(page_dir, "index.html"), "rb") as source:
        page = source.read()
    status, headers, body = request(port, "GET", "/")
    title = re.search(rb"<title>([^<]*)</title>", body)
    report(status == 200 and body == page and headers.get("Content-Type", "").startswith("text/html"),
           f"GET / serves the page built in, title {title.group(1).decode() if title else None!r}",
           f"status {status}, {len(body)} bytes against {len(page)}, {headers.get('Content-Type')}")

    status, headers, body = request(port, "GET", "/state")
    try:
        state = json.loads(body)
    except ValueError:
        state = None
    report(status == 200 and headers.get("Content-Type") == "application/json" and
           isinstance(state, dict) and isinstance(state.get("tiles"), list),
           f"GET /state is the board as JSON ({len(state['tiles']) if state else 0} tiles)",
           f"status {status}, {body[:200]!r}")

    head, name, data = first_event(port)
    report("text/event-stream" in head and name == "snapshot" and data == state,
           "GET /events: the first message is the snapshot, the same board as /state",
           f"{head.splitlines()[:1]}, event {name!r}")

    status, headers, _ = request(port, "POST", "/")
    report(status == 405 and headers.get("Allow") == "GET, HEAD", "POST / is refused: 405, Allow: GET, HEAD",
           f"status {status}, Allow {headers.get('Allow')!r}")

    status, _, _ = request(port, "GET", "/state", host="bench.example.com")
    report(status == 421, "a foreign Host header is refused: 421", f"status {status}")


def main():
    arguments = sys.argv[1:]
    if "--" not in arguments or arguments.index("--") not in (1, 3):
        print(__doc__, file=sys.stderr)
        return 2
    split = arguments.index("--")
    page_dir, command = arguments[0], arguments[split + 1:]
    want_status = int(arguments[2]) if split == 3 and arguments[1] == "--status" else None
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
    name = os.path.basename(command[1] if command[0] == "wine" else command[0])
    try:
        port, seen = learn_port(process)
        report(port is not None, f"{name} says where it serves", f"output: {seen[-500:]!r}")
        if port is not None:
            try:
                check(page_dir, port)
            except (OSError, ValueError, http.client.HTTPException) as error:
                report(False, "the page answers", repr(error))
        # As Ctrl+C: Wine passes SIGINT on as the console's Ctrl+C event.
        process.send_signal(signal.SIGINT)
        try:
            process.wait(timeout=END_WAIT)
            ended = True
        except subprocess.TimeoutExpired:
            ended = False
        status = process.returncode
        report(ended and (port is None or port_closed(port)) and want_status in (None, status),
               f"{name} ends on Ctrl+C" + ("" if want_status is None else f" with status {want_status}") +
               " and its port is closed",
               f"status {status}" if ended else "still running")
    finally:
        if process.poll() is None:
            process.kill()
            process.wait(timeout=END_WAIT)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
