"""A local HTTP server that serves the installer package with behaviour chosen per test.

    server = PackageServer(port, package)      # package: the bytes padded up to each body size
    server.serve("/installer/src4.exe", Behaviour(size=2_000_000, rate=400_000))
    server.start()
    ...
    server.release()                           # let a held response go on
    server.stop()                              # prompt; closes every open connection

Every request is recorded (method, path, headers, user agent, bytes sent, how it ended).

Run as a script for manual checks:
    python3 package_server.py --port 47810 --package recorder.exe --size 2000000 --rate 100000
"""

import argparse
import dataclasses
import socket
import struct
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Dict, List, Optional

PACKAGE_PATH = "/installer/src4.exe"
PIECE = 4096  # bytes per send; throttling works in pieces of this size


@dataclasses.dataclass
class Behaviour:
    """How the server answers one path.

    size:           body length; the body is the package padded with zero bytes (or cut) to it
    body:           explicit body instead of the padded package
    status:         HTTP status code
    content_length: send a Content-Length header
    rate:           bytes per second, None for as fast as possible
    hold_headers:   hold before sending anything until release()
    hold_at:        after this many body bytes, hold until release(); hold_at == size with
                    content_length=False keeps the connection open after the last byte, so the
                    client cannot know that the body has ended
    reset_after:    after this many body bytes (and reset_delay seconds), reset the connection
                    (RST, by closing with SO_LINGER 0)
    redirect:       answer with this status (default 302) and a Location header to this path
    """

    size: int = 2_000_000
    body: Optional[bytes] = None
    status: int = 200
    content_length: bool = True
    rate: Optional[int] = None
    hold_headers: bool = False
    hold_at: Optional[int] = None
    reset_after: Optional[int] = None
    reset_delay: float = 0.5
    redirect: Optional[str] = None


@dataclasses.dataclass
class Request:
    method: str
    path: str
    headers: Dict[str, str]
    started: float
    sent: int = 0
    outcome: str = "open"  # "complete", "reset", "client closed", "stopped", "open"

    @property
    def user_agent(self) -> Optional[str]:
        for name, value in self.headers.items():
            if name.lower() == "user-agent":
                return value
        return None


class _Stopped(Exception):
    pass


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server: "_Server"

    def log_message(self, format, *args):  # noqa: A002 - quiet; requests are recorded instead
        pass

    def do_GET(self):
        owner = self.server.owner
        record = Request(self.command, self.path, dict(self.headers.items()), time.monotonic())
        owner._record(record)
        behaviour = owner.routes.get(self.path.split("?", 1)[0])
        self.close_connection = True
        try:
            if behaviour is None:
                self._answer(record, Behaviour(status=404, body=b"not found\n"), owner)
            else:
                self._answer(record, behaviour, owner)
            if record.outcome == "open":
                record.outcome = "complete"
        except _Stopped:
            record.outcome = "stopped"
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError):
            record.outcome = "client closed"
        except OSError:
            record.outcome = "stopped" if owner._stopping.is_set() else "client closed"

    do_HEAD = do_GET

    def _answer(self, record: Request, b: Behaviour, owner: "PackageServer"):
        if b.hold_headers:
            owner._hold()
        if b.redirect is not None:
            status = b.status if b.status != 200 else 302
            reason = self.responses.get(status, ("Redirect",))[0]
            head = f"HTTP/1.1 {status} {reason}\r\nLocation: {b.redirect}\r\nContent-Length: 0\r\n"
            self._send(head.encode() + b"Connection: close\r\n\r\n")
            return
        body = b.body if b.body is not None else owner.padded(b.size)
        reason = self.responses.get(b.status, ("Status",))[0]
        head = f"HTTP/1.1 {b.status} {reason}\r\nContent-Type: application/octet-stream\r\n"
        if b.content_length:
            head += f"Content-Length: {len(body)}\r\n"
        head += "Connection: close\r\n\r\n"
        self._send(head.encode())
        if self.command == "HEAD":
            return
        start = time.monotonic()
        held = False
        pos = 0
        while True:
            if b.hold_at is not None and pos == b.hold_at and not held:
                held = True
                owner._hold()
            if b.reset_after is not None and pos == b.reset_after:
                self._reset(b.reset_delay, owner)
                record.outcome = "reset"
                return
            if pos >= len(body):
                break
            end = min(len(body), pos + PIECE)
            for limit in (b.hold_at, b.reset_after):
                if limit is not None and pos < limit < end:
                    end = limit
            self._send(body[pos:end])
            pos = end
            record.sent = pos
            if b.rate:
                ahead = pos / b.rate - (time.monotonic() - start)
                if ahead > 0:
                    owner._sleep(ahead)

    def _send(self, data: bytes):
        if self.server.owner._stopping.is_set():
            raise _Stopped()
        self.connection.sendall(data)

    def _reset(self, delay: float, owner: "PackageServer"):
        owner._sleep(delay)  # let the client read what was sent before the reset
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True
    owner: "PackageServer"

    def process_request(self, request, client_address):
        self.owner._track(request)
        super().process_request(request, client_address)

    def handle_error(self, request, client_address):
        pass


class PackageServer:
    def __init__(self, port: int, package: bytes, host: str = "127.0.0.1"):
        self.host = host
        self.port = port
        self.package = package
        self.routes: Dict[str, Behaviour] = {}
        self.requests: List[Request] = []
        self._lock = threading.Lock()
        self._released = threading.Event()
        self._holding = threading.Event()
        self._stopping = threading.Event()
        self._sockets: List[socket.socket] = []
        self._server: Optional[_Server] = None
        self._thread: Optional[threading.Thread] = None

    # -- configuration ---------------------------------------------------------------------

    def serve(self, path: str, behaviour: Behaviour):
        self.routes[path] = behaviour

    def padded(self, size: int) -> bytes:
        """The package cut or padded with zero bytes to size."""
        if size <= len(self.package):
            return self.package[:size]
        return self.package + bytes(size - len(self.package))

    # -- life ------------------------------------------------------------------------------

    def start(self):
        self._server = _Server((self.host, self.port), _Handler)
        self._server.owner = self
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.05}, daemon=True)
        self._thread.start()

    def stop(self):
        """Stops at once: releases holds, closes every connection and the listening socket."""
        self._stopping.set()
        self._released.set()
        if self._server is not None:
            self._server.shutdown()
            with self._lock:
                for s in self._sockets:
                    try:
                        s.shutdown(socket.SHUT_RDWR)
                    except OSError:
                        pass
            self._server.server_close()
            self._server = None
        if self._thread is not None:
            self._thread.join(timeout=5)
            self._thread = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    # -- holds -----------------------------------------------------------------------------

    def wait_held(self, timeout: float) -> bool:
        """True once a response has reached a hold point."""
        return self._holding.wait(timeout)

    def release(self):
        """Lets every held response go on; later hold points no longer hold."""
        self._released.set()

    # -- inside the server -----------------------------------------------------------------

    def _record(self, request: Request):
        with self._lock:
            self.requests.append(request)

    def _track(self, sock: socket.socket):
        with self._lock:
            self._sockets.append(sock)

    def _hold(self):
        self._holding.set()
        # Bounded: a test that forgets to release still ends (stop() releases at once).
        self._released.wait(timeout=120)
        if self._stopping.is_set():
            raise _Stopped()

    def _sleep(self, seconds: float):
        if self._stopping.wait(seconds):
            raise _Stopped()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=47810)
    parser.add_argument("--package", help="file that is padded to the body size")
    parser.add_argument("--size", type=int, default=2_000_000)
    parser.add_argument("--status", type=int, default=200)
    parser.add_argument("--rate", type=int)
    parser.add_argument("--no-content-length", action="store_true")
    parser.add_argument("--hold-at", type=int)
    parser.add_argument("--hold-headers", action="store_true")
    parser.add_argument("--reset-after", type=int)
    parser.add_argument("--redirect")
    args = parser.parse_args()
    package = open(args.package, "rb").read() if args.package else b"MZ"
    server = PackageServer(args.port, package)
    server.serve(PACKAGE_PATH, Behaviour(
        size=args.size, status=args.status, rate=args.rate,
        content_length=not args.no_content_length, hold_at=args.hold_at,
        hold_headers=args.hold_headers, reset_after=args.reset_after, redirect=args.redirect))
    if args.redirect:
        server.serve(args.redirect, Behaviour(size=args.size))
    server.start()
    print(f"serving http://127.0.0.1:{args.port}{PACKAGE_PATH}; Enter releases a hold, "
          "Ctrl-D stops", flush=True)
    try:
        while True:
            if not input():
                server.release()
    except (EOFError, KeyboardInterrupt):
        pass
    finally:
        server.stop()
        for r in server.requests:
            print(r.method, r.path, r.user_agent, r.sent, r.outcome)


if __name__ == "__main__":
    main()
