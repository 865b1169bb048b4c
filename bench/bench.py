"""Measures setup.exe against the bare WinInet downloader (bareget.exe) under 64-bit Wine.

Both programs fetch the same body from a loopback server in the same Wine session, one after
the other, several runs each; the figures are medians and the comparison is their ratio:

  throughput   body size / (request reaches the server -> destination file closed)
  start-up     process started -> request reaches the server
  peak memory  the peak resident set of the Windows process (wait4's ru_maxrss)

curl fetches the large body too, as a reference for what the server and the loopback give.
Then both programs fetch again from the same server holding each body to a capped link rate
(--link-rates), which tells whether setup.exe keeps up at the rates of real connections.
scripts/bench.sh builds the programs, starts the Wine session and runs this; it expects
WINEPREFIX and DISPLAY in its environment.
"""

import argparse
import ctypes
import datetime
import fcntl
import json
import os
import platform
import queue
import selectors
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import Dict, List, Optional

PACKAGE_PATH = "/installer/src4.exe"
PACKAGE_FILE = "brelmora_installer_4.exe"  # setup.exe's destination in the temporary folder
BARE_FILE = "bareget_download.bin"
CURL_FILE = "curl_download.bin"
PACKAGE_COMM = PACKAGE_FILE[:15]  # the kernel keeps 15 characters of a process name
MIB = 1024 * 1024
CHUNK = 32768  # setup.exe's read size
LINK_PIECE = 65536  # what a capped link delivers at a time
SIOCOUTQNSD = 0x894B  # ioctl: bytes of a TCP socket's send queue not yet sent


class BenchError(Exception):
    """The benchmark could not measure."""


def parse_uicost(text: str) -> tuple:
    """uicost.exe's lines: 'step NAME key=value...' and 'variant NAME key=value...'."""
    steps, variants = [], {}
    for line in text.splitlines():
        words = line.split()
        if len(words) < 2 or words[0] not in ("step", "variant"):
            continue
        fields = {"name": words[1]}
        for word in words[2:]:
            key, _, value = word.partition("=")
            fields[key] = float(value)
        if words[0] == "step":
            steps.append(fields)
        else:
            variants[words[1]] = fields
    if not steps or "as-is" not in variants:
        raise BenchError("uicost.exe printed nothing usable")
    return steps, variants


# -- the package server --------------------------------------------------------------------------

class Request:
    def __init__(self, received: float, line: str, headers: Dict[str, str]):
        self.received = received  # monotonic time at which the request's headers were complete
        self.line = line
        self.headers = headers
        self.sent: Optional[float] = None  # monotonic time at which the last body byte was sent
        self.error: Optional[str] = None
        self.rate: Optional[float] = None  # the link's cap in bytes per second, if capped
        self.held = 0.0  # seconds the capped link waited for the receiver to read


def drain(q: queue.Queue):
    """Empties q of what earlier runs left in it."""
    while True:
        try:
            q.get_nowait()
        except queue.Empty:
            return


def unsent_bytes(conn: socket.socket) -> int:
    return struct.unpack("i", fcntl.ioctl(conn.fileno(), SIOCOUTQNSD, b"\0" * 4))[0]


class PackageServer:
    """HTTP/1.1 on 127.0.0.1: answers GET PACKAGE_PATH with the current body file, with
    Content-Length and Connection: close. Sent from the page cache with sendfile, or, when
    `rate` is set, paced to that many bytes per second as a link of that capacity delivers it."""

    def __init__(self, port: int):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            self.sock.bind(("127.0.0.1", port))
        except OSError as e:
            self.sock.close()
            raise BenchError(f"cannot listen on 127.0.0.1:{port}: {e}") from e
        self.sock.listen(16)
        self.sock.settimeout(0.2)
        self.body: Optional[Path] = None
        self.rate: Optional[float] = None
        self.requests: "queue.Queue[Request]" = queue.Queue()
        self._stop = threading.Event()
        self._conns: List[socket.socket] = []
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._accept_loop, daemon=True)
        self._thread.start()

    def _accept_loop(self):
        while not self._stop.is_set():
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            with self._lock:
                self._conns.append(conn)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn: socket.socket):
        conn.settimeout(60)
        request = None
        try:
            data = b""
            while b"\r\n\r\n" not in data:
                piece = conn.recv(65536)
                if not piece or len(data) > 65536:
                    return
                data += piece
            head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
            headers = {}
            for line in head[1:]:
                name, _, value = line.partition(":")
                headers[name.strip().lower()] = value.strip()
            request = Request(time.monotonic(), head[0], headers)
            parts = head[0].split()
            body = self.body
            request.rate = self.rate
            if len(parts) == 3 and parts[0] == "GET" and parts[1] == PACKAGE_PATH and body:
                size = body.stat().st_size
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                             b"Content-Length: %d\r\nConnection: close\r\n\r\n" % size)
                self.requests.put(request)
                with open(body, "rb") as f:
                    if request.rate:
                        self._send_paced(conn, f, size, request)
                    else:
                        conn.sendfile(f, 0, size)
                request.sent = time.monotonic()
            else:
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                             b"Connection: close\r\n\r\n")
                request.error = "not found"
                self.requests.put(request)
        except OSError as e:
            if request is not None:
                request.error = str(e)
        finally:
            try:
                conn.close()
            except OSError:
                pass
            with self._lock:
                if conn in self._conns:
                    self._conns.remove(conn)

    def _send_paced(self, conn: socket.socket, f, size: int, request: Request):
        """Sends the body as a link of request.rate bytes per second delivers it: piece after
        piece of LINK_PIECE bytes, each when the schedule, counted from the request, has room
        for all of it. The schedule is absolute (time.monotonic), so a late wake-up of this
        thread is made up with the next piece and the average rate is exact. A link cannot
        run ahead of a receiver that stops reading: when a piece is due while bytes of the
        previous one are still queued here (the receiver's buffer is full and its window
        closed), the link waits for them to go, and that wait is lost, not made up later."""
        rate = request.rate
        fd = f.fileno()
        start = request.received
        limit = start + 60 + 4 * size / rate
        done = 0
        while done < size:
            n = min(LINK_PIECE, size - done)
            delay = start + request.held + (done + n) / rate - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            if unsent_bytes(conn):
                waited_from = time.monotonic()
                while unsent_bytes(conn):
                    if self._stop.is_set() or time.monotonic() > limit:
                        raise OSError("the receiver stopped reading")
                    time.sleep(0.0002)
                request.held += time.monotonic() - waited_from
            conn.sendall(os.pread(fd, n, done))
            done += n

    def stop(self):
        self._stop.set()
        self.sock.close()
        with self._lock:
            for conn in self._conns:
                try:
                    conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        self._thread.join(timeout=5)


# -- the end mark: the destination file closed after writing -------------------------------------

class CloseWatcher:
    """Reports IN_CLOSE_WRITE for the files of one folder, with the monotonic time at which the
    event was read (a thread that blocks on the inotify descriptor reads it at once)."""

    IN_CLOSE_WRITE = 0x00000008

    def __init__(self, folder: Path):
        self._libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self._libc.inotify_init1(os.O_CLOEXEC | os.O_NONBLOCK)
        if self.fd < 0:
            raise BenchError(f"inotify_init1: {os.strerror(ctypes.get_errno())}")
        wd = self._libc.inotify_add_watch(self.fd, os.fsencode(folder), self.IN_CLOSE_WRITE)
        if wd < 0:
            os.close(self.fd)
            raise BenchError(f"inotify_add_watch {folder}: {os.strerror(ctypes.get_errno())}")
        self.events: "queue.Queue[tuple]" = queue.Queue()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._loop, daemon=True)
        self._thread.start()

    def _loop(self):
        sel = selectors.DefaultSelector()
        sel.register(self.fd, selectors.EVENT_READ)
        while not self._stop.is_set():
            if not sel.select(0.2):
                continue
            now = time.monotonic()
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                continue
            pos = 0
            while pos + 16 <= len(data):
                _wd, mask, _cookie, length = struct.unpack_from("iIII", data, pos)
                name = data[pos + 16:pos + 16 + length].rstrip(b"\0").decode(errors="replace")
                pos += 16 + length
                self.events.put((name.lower(), now))

    def stop(self):
        self._stop.set()
        self._thread.join(timeout=5)
        os.close(self.fd)


# -- processes -----------------------------------------------------------------------------------

def read_head(path: Path, count: int) -> bytes:
    with open(path, "rb") as f:
        return f.read(count)


def read_status(pid: int) -> Dict[str, int]:
    """The sizes in /proc/PID/status, in KiB (empty once the process has ended)."""
    found = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                words = line.split()
                if len(words) == 3 and words[2] == "kB":
                    found[words[0].rstrip(":")] = int(words[1])
    except (OSError, ValueError):
        pass
    return found


def read_comm(pid: int) -> Optional[str]:
    try:
        with open(f"/proc/{pid}/comm") as f:
            return f.read().strip()
    except OSError:
        return None


def pids_named(comm: str) -> List[int]:
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit() and read_comm(int(entry)) == comm:
            try:
                with open(f"/proc/{entry}/stat") as f:
                    if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                        continue  # a zombie has ended
            except (OSError, IndexError):
                continue
            found.append(int(entry))
    return found


class Measured:
    def __init__(self, program: str, size: int, rate: Optional[float] = None):
        self.program = program
        self.size = size
        self.rate = rate  # the link's cap in bytes per second, None on the bare loopback
        self.server_s: Optional[float] = None  # request -> the server's last send
        self.held_s = 0.0  # seconds the capped link waited for the program to read
        self.index = 0  # the run's place in the whole benchmark
        self.started = 0.0
        self.request: Optional[float] = None
        self.closed: Optional[float] = None
        self.ended: Optional[float] = None
        self.exit_code: Optional[int] = None
        self.maxrss_kib: Optional[int] = None   # wait4
        self.hwm_kib: Optional[int] = None      # the highest VmHWM seen while polling
        # The largest resident size seen while polling, split into anonymous memory (heaps,
        # stacks, written data) and file and shared pages (DLLs, fonts, Wine's shared memory).
        self.top_rss_kib = 0
        self.top_anon_kib = 0
        self.top_file_kib = 0
        self.comm: Optional[str] = None
        self.file_ok = False
        self.cache_bytes = 0

    @property
    def startup(self) -> float:
        return self.request - self.started

    @property
    def transfer(self) -> float:
        return self.closed - self.request

    @property
    def throughput(self) -> float:
        return self.size / self.transfer / MIB

    @property
    def key(self) -> str:
        return result_key(self.program, self.size, self.rate)

    @property
    def label(self) -> str:
        return self.program + (f", {fmt_rate(self.rate)} link" if self.rate else "")

    def row(self) -> dict:
        return {
            "program": self.program, "size": self.size, "link_rate_bytes_s": self.rate,
            "server_send_s": self.server_s, "link_held_s": self.held_s,
            "startup_s": self.startup, "transfer_s": self.transfer,
            "throughput_mib_s": self.throughput, "maxrss_kib": self.maxrss_kib,
            "vmhwm_polled_kib": self.hwm_kib, "exit_code": self.exit_code, "comm": self.comm,
            "top_rss_kib": self.top_rss_kib, "top_anon_kib": self.top_anon_kib,
            "top_file_kib": self.top_file_kib,
            "cache_bytes": self.cache_bytes,
            "lifetime_s": (self.ended - self.started) if self.ended else None,
        }


def result_key(program: str, size: int, rate: Optional[float] = None) -> str:
    return f"{program}-{size}" + (f"-at-{rate / 1e6:g}MBps" if rate else "")


class Bench:
    def __init__(self, args):
        self.args = args
        self.wine64 = os.environ.get("WINE64", "/usr/lib/wine/wine64")
        self.prefix = Path(os.environ["WINEPREFIX"])
        self.state = Path(args.state).resolve()
        self.tmp = self.state / "tmp"
        self.logs = self.state / "logs"
        self.bodies = self.state / "bodies"
        self.env = dict(os.environ)
        self.env.setdefault("WINEDEBUG", "-all")
        self.url = f"http://127.0.0.1:{args.port}{PACKAGE_PATH}"
        self.server: Optional[PackageServer] = None
        self.watcher: Optional[CloseWatcher] = None
        self.holder: Optional[subprocess.Popen] = None
        self.results: Dict[str, List[Measured]] = {}
        self.run_count = 0
        self.links_s = 0.0  # the time the runs on capped links took
        self.floor_kib = 0
        self.steps: List[dict] = []
        self.variants: Dict[str, dict] = {}

    # -- preparation ---------------------------------------------------------------------------

    def win_path(self, unix: Path) -> str:
        return "Z:" + str(unix).replace("/", "\\")

    def wine(self, *args, timeout=120):
        return subprocess.run([self.wine64, *map(str, args)], env=self.env, timeout=timeout,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)

    def prepare(self):
        for d in (self.tmp, self.logs, self.bodies):
            d.mkdir(parents=True, exist_ok=True)
        # setup.exe downloads into GetTempPath(): point TMP and TEMP of the prefix's user at a
        # folder of the benchmark's own, where the end mark is watched.
        for name in ("TMP", "TEMP"):
            proc = self.wine("reg", "add", r"HKCU\Environment", "/v", name, "/t", "REG_SZ",
                             "/d", self.win_path(self.tmp), "/f")
            if proc.returncode != 0:
                raise BenchError(f"reg add {name} failed: {proc.stdout[-300:]!r}")
        package = Path(self.args.package).read_bytes()
        for size in {self.args.small, self.args.big,
                     *(self.link_size(rate) for rate in self.args.link_rates)}:
            body = self.body_path(size)
            if not body.exists() or body.stat().st_size != size or \
                    read_head(body, len(package)) != package:
                # The package followed by zero bytes up to the size (a sparse file: the zero
                # pages cost no disk and come from the page cache).
                with open(body, "wb") as f:
                    f.write(package)
                    f.truncate(size)
        # The floor of ru_maxrss for a process started as the programs are: /bin/true's figure.
        pid = self.spawn(["/bin/true"], self.logs / "floor.log")
        _, _, rusage = os.wait4(pid, 0)
        self.floor_kib = rusage.ru_maxrss
        self.server = PackageServer(self.args.port)
        self.watcher = CloseWatcher(self.tmp)
        if self.args.desktop == "held":
            self.hold_desktop()

    def body_path(self, size: int) -> Path:
        return self.bodies / f"body-{size}.exe"

    def link_size(self, rate: float) -> int:
        """The body for a capped link: --link-seconds of it, in whole MiB."""
        return max(1, round(rate * self.args.link_seconds / MIB)) * MIB

    def hold_desktop(self):
        self.holder = subprocess.Popen([self.wine64, self.args.desktop_hold], env=self.env,
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        sel = selectors.DefaultSelector()
        sel.register(self.holder.stdout, selectors.EVENT_READ)
        if not sel.select(60) or b"ready" not in self.holder.stdout.readline():
            raise BenchError("desktop_hold.exe did not get ready")

    def close(self):
        if self.holder is not None:
            try:
                self.holder.stdin.close()
                self.holder.wait(timeout=15)
            except (OSError, subprocess.TimeoutExpired):
                self.holder.kill()
                self.holder.wait(timeout=15)
        if self.watcher is not None:
            self.watcher.stop()
        if self.server is not None:
            self.server.stop()

    # -- WinInet's cache -----------------------------------------------------------------------

    def cache_files(self) -> List[Path]:
        found = []
        users = self.prefix / "drive_c" / "users"
        for cache in users.glob("*/AppData/Local/Microsoft/Windows/INetCache"):
            for path in cache.rglob("*"):
                if path.is_file() and path.name.lower() != "index.dat":
                    found.append(path)
        return found

    def cache_bytes(self) -> int:
        total = 0
        for path in self.cache_files():
            try:
                total += path.stat().st_size
            except OSError:
                pass
        return total

    def clear_cache(self):
        # Every run starts with the same empty cache, and the disk does not fill up with the
        # copies that WinInet keeps of the body.
        for path in self.cache_files():
            try:
                path.unlink()
            except OSError:
                pass

    # -- one run -------------------------------------------------------------------------------

    def run(self, program: str, size: int, rate: Optional[float] = None) -> Measured:
        self.server.body = self.body_path(size)
        self.server.rate = rate
        if program == "setup":
            argv = [self.wine64, self.args.setup]
            dest_name = PACKAGE_FILE
        elif program in ("bare", "bare-nocache"):
            argv = [self.wine64, self.args.bare, self.url, self.win_path(self.tmp / BARE_FILE)]
            if program == "bare-nocache":
                argv.append("--no-cache-write")
            dest_name = BARE_FILE
        elif program == "curl":
            argv = ["curl", "-sS", "--max-time", "600", "-o", str(self.tmp / CURL_FILE), self.url]
            dest_name = CURL_FILE
        else:
            raise ValueError(program)
        dest = self.tmp / dest_name
        if dest.exists():
            dest.unlink()
        self.clear_cache()
        m = Measured(program, size, rate)
        req = None
        self.run_count += 1
        m.index = self.run_count
        log_path = self.logs / f"{self.run_count:03d}-{program}-{size}.log"
        drain(self.server.requests)
        drain(self.watcher.events)
        timeout = 60 + size / MIB + 2 * size / (rate or size)  # generous
        m.started = time.monotonic()
        pid = self.spawn(argv, log_path)
        deadline = m.started + timeout
        status = None
        try:
            while True:
                now = time.monotonic()
                if m.request is None:
                    try:
                        req = self.server.requests.get_nowait()
                        if req.error:
                            raise BenchError(f"{program}: request {req.line!r}: {req.error}")
                        if req.headers.get("user-agent") != "setup" and program != "curl":
                            raise BenchError(f"{program}: user agent "
                                             f"{req.headers.get('user-agent')!r}, not 'setup'")
                        m.request = req.received
                    except queue.Empty:
                        pass
                while m.closed is None:
                    try:
                        name, when = self.watcher.events.get_nowait()
                    except queue.Empty:
                        break
                    if name == dest_name.lower() and m.request is not None and when >= m.request:
                        m.closed = when
                if status is None:
                    st = read_status(pid)
                    if "VmHWM" in st:
                        m.hwm_kib = max(m.hwm_kib or 0, st["VmHWM"])
                    if st.get("VmRSS", 0) > m.top_rss_kib:
                        m.top_rss_kib = st["VmRSS"]
                        m.top_anon_kib = st.get("RssAnon", 0)
                        m.top_file_kib = st.get("RssFile", 0) + st.get("RssShmem", 0)
                    comm = read_comm(pid)  # the last name seen: the Windows program's
                    if comm:
                        m.comm = comm
                    done, wstatus, rusage = os.wait4(pid, os.WNOHANG)
                    if done == pid:
                        status = wstatus
                        m.ended = time.monotonic()
                        m.exit_code = os.waitstatus_to_exitcode(wstatus)
                        m.maxrss_kib = rusage.ru_maxrss
                if status is not None and m.closed is not None:
                    break
                if status is not None and now - m.ended > 10:
                    raise BenchError(f"{program} ended (exit {m.exit_code}) without "
                                     f"{'a request' if m.request is None else 'closing ' + dest_name}"
                                     f"; see {log_path}")
                if now > deadline:
                    raise BenchError(f"{program} did not finish within {timeout:.0f} s")
                time.sleep(0.01)
        finally:
            if status is None:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
        if m.exit_code != 0:
            raise BenchError(f"{program} exited with {m.exit_code}")
        # The server's thread notes the end of its sending just after its last send; the
        # program has had to read and write the last bytes since, but wait for the note.
        end = time.monotonic() + 5
        while req.sent is None and req.error is None and time.monotonic() < end:
            time.sleep(0.005)
        if req.error or req.sent is None:
            raise BenchError(f"{program}: the server's sending failed: {req.error or 'no end'}")
        m.server_s = req.sent - req.received
        m.held_s = req.held
        try:
            m.file_ok = dest.stat().st_size == size
        except OSError:
            m.file_ok = False
        if not m.file_ok:
            raise BenchError(f"{program}: {dest} is not {size} bytes")
        m.cache_bytes = self.cache_bytes()
        if program == "setup":
            # setup.exe hands the package to the shell; it must be gone before the next run.
            end = time.monotonic() + 60
            while pids_named(PACKAGE_COMM):
                if time.monotonic() > end:
                    raise BenchError("the launched package is still running after 60 s")
                time.sleep(0.05)
        self.reap()
        self.results.setdefault(m.key, []).append(m)
        return m

    def spawn(self, argv: List[str], log_path: Path) -> int:
        """Starts argv as a grandchild through dash, which ends at once, and returns its pid.

        The kernel starts a process's ru_maxrss from the peak of the memory it was forked
        from: a program forked straight from this Python process would report at least
        Python's own resident size. Forked from dash it starts below 2 MiB; this process is
        the child subreaper, so the program becomes its child and wait4 gives its usage."""
        sh = subprocess.Popen(
            ["/bin/sh", "-c", 'log=$1; shift; "$@" </dev/null >"$log" 2>&1 & echo $!',
             "sh", str(log_path), *argv],
            env=self.env, cwd=self.tmp, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        out, _ = sh.communicate(timeout=30)
        if sh.returncode != 0 or not out.strip().isdigit():
            raise BenchError(f"cannot start {argv[0]}")
        return int(out)

    def run_tool(self, name: str, argv: List[str], timeout: float) -> str:
        """Runs a program to its end and returns what it printed."""
        self.run_count += 1
        log_path = self.logs / f"{self.run_count:03d}-{name}.log"
        pid = self.spawn(argv, log_path)
        deadline = time.monotonic() + timeout
        while True:
            done, wstatus, _ = os.wait4(pid, os.WNOHANG)
            if done == pid:
                break
            if time.monotonic() > deadline:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                raise BenchError(f"{name} did not end within {timeout:.0f} s")
            time.sleep(0.05)
        self.reap()
        code = os.waitstatus_to_exitcode(wstatus)
        if code != 0:
            raise BenchError(f"{name} exited with {code}; see {log_path}")
        return log_path.read_text(errors="replace")

    def diagnose(self):
        """What setup.exe's window and its per-chunk work cost (uicost.exe), and what WinInet's
        cache costs both programs (the bare program without cache writes)."""
        chunks = -(-self.args.big // CHUNK)
        print(f"diagnosis: uicost.exe, {chunks} chunks", flush=True)
        out = self.run_tool("uicost", [self.wine64, self.args.uicost,
                                       self.win_path(Path(self.args.setup)), str(chunks)],
                            timeout=120 + chunks * 0.01)
        self.steps, self.variants = parse_uicost(out)
        print(f"diagnosis: the bare program with INTERNET_FLAG_NO_CACHE_WRITE, "
              f"{fmt_size(self.args.big)} body, {self.args.runs} runs", flush=True)
        for _ in range(self.args.runs):
            self.run("bare-nocache", self.args.big)

    def reap(self):
        """Collects the Wine processes that ended after being handed to this subreaper (the
        launched package, a desktop process)."""
        while True:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return

    def alternate(self, size: int, runs: int, label: str, rate: Optional[float] = None):
        for i in range(runs):
            order = ("setup", "bare") if i % 2 == 0 else ("bare", "setup")
            for program in order:
                m = self.run(program, size, rate)
                line = (f"  {label} run {i + 1}/{runs} {program:5}: start-up "
                        f"{m.startup * 1000:7.1f} ms  transfer {m.transfer:7.3f} s  ")
                if rate:
                    line += (f"{m.throughput:6.2f} MiB/s  server sent at "
                             f"{m.size / m.server_s / 1e6:6.2f} MB/s, link held {m.held_s:.3f} s")
                else:
                    line += f"peak {m.maxrss_kib / 1024:6.1f} MiB"
                print(line, flush=True)

    def measure(self):
        a = self.args
        print(f"warm-up: one run of each with the {fmt_size(a.small)} body", flush=True)
        for program in ("setup", "bare"):
            self.run(program, a.small)
        self.results.clear()
        print(f"{fmt_size(a.small)} body, {a.runs} runs each, alternating", flush=True)
        self.alternate(a.small, a.runs, fmt_size(a.small))
        print(f"{fmt_size(a.big)} body, {a.runs} runs each, alternating", flush=True)
        self.alternate(a.big, a.runs, fmt_size(a.big))
        if shutil.which("curl"):
            print(f"reference: curl, {fmt_size(a.big)} body, {a.runs} runs", flush=True)
            for i in range(a.runs):
                m = self.run("curl", a.big)
                print(f"  curl run {i + 1}/{a.runs}: transfer {m.transfer:7.3f} s", flush=True)
        links_started = time.monotonic()
        for rate in a.link_rates:
            size = self.link_size(rate)
            print(f"link capped at {fmt_rate(rate)}: {fmt_size(size)} body, {a.runs} runs each, "
                  f"alternating", flush=True)
            self.alternate(size, a.runs, f"{rate / 1e6:g} MB/s", rate)
        self.links_s = time.monotonic() - links_started


# -- report --------------------------------------------------------------------------------------

def fmt_size(n: int) -> str:
    if n % MIB == 0:
        return f"{n // MIB} MiB"
    if n % 1000000 == 0:
        return f"{n // 1000000} MB"
    return f"{n} bytes"


def fmt_rate(rate: float) -> str:
    return f"{rate / 1e6:g} MB/s ({rate * 8 / 1e6:g} Mbit/s)"


def parse_rates(text: str) -> List[float]:
    """--link-rates: bytes per second, comma-separated ('12.5e6,25e6'), or 'none'."""
    if text.strip().lower() in ("none", ""):
        return []
    rates = []
    for word in text.split(","):
        try:
            rate = float(word)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a rate in bytes per second: {word!r}")
        if not 1e5 <= rate <= 1e10:
            raise argparse.ArgumentTypeError(f"rate out of range (1e5..1e10 bytes/s): {word!r}")
        rates.append(rate)
    return rates


def median(values: List[float]) -> float:
    return statistics.median(values)


def spread(values: List[float]) -> str:
    lo, hi, mid = min(values), max(values), median(values)
    return f"{lo:.4g}..{hi:.4g} (±{max(mid - lo, hi - mid) / mid * 100:.0f} %)"


class Figures:
    """The medians, ratios and verdicts of one benchmark."""

    def __init__(self, bench: Bench):
        self.bench = bench
        a = bench.args
        self.small, self.big = a.small, a.big
        r = bench.results

        def vals(program, size, attr):
            return [getattr(m, attr) for m in r[f"{program}-{size}"]]

        self.vals = vals
        self.thr = {p: median(vals(p, self.big, "throughput")) for p in ("setup", "bare")}
        self.transfer = {p: median(vals(p, self.big, "transfer")) for p in ("setup", "bare")}
        self.startup = {p: median(vals(p, self.small, "startup") + vals(p, self.big, "startup"))
                        for p in ("setup", "bare")}
        self.peak = {(p, size): median(vals(p, size, "maxrss_kib")) / 1024
                     for p in ("setup", "bare") for size in (self.small, self.big)}
        curl = r.get(f"curl-{self.big}")
        self.curl = median([m.throughput for m in curl]) if curl else None

        rows = []  # metric, setup, bare, ratio, target, within
        ratio = self.thr["setup"] / self.thr["bare"]
        rows.append((f"Throughput, {fmt_size(self.big)} body (MiB/s)", f"{self.thr['setup']:.1f}",
                     f"{self.thr['bare']:.1f}", f"{ratio:.3f}", ">= 0.95", ratio >= 0.95))
        ratio = self.startup["setup"] / self.startup["bare"]
        rows.append(("Start-up to request (ms)", f"{self.startup['setup'] * 1000:.0f}",
                     f"{self.startup['bare'] * 1000:.0f}", f"{ratio:.2f}", "<= 1.2",
                     ratio <= 1.2))
        for size in (self.small, self.big):
            ps, pb = self.peak["setup", size], self.peak["bare", size]
            rows.append((f"Peak resident memory, {fmt_size(size)} body (MiB)", f"{ps:.1f}",
                         f"{pb:.1f}", f"{ps / pb:.2f}", "<= 1.1", ps / pb <= 1.1))
        grow = {p: self.peak[p, self.big] / self.peak[p, self.small] for p in ("setup", "bare")}
        rows.append((f"Peak memory growth, {fmt_size(self.small)} -> {fmt_size(self.big)} (x)",
                     f"{grow['setup']:.2f}", f"{grow['bare']:.2f}", "-", "setup <= 1.1",
                     grow["setup"] <= 1.1))
        # Capped links: no target of their own (the loopback row has it), a reference for
        # what the per-chunk cost means at a real connection's rate.
        self.links = []  # rate, size, {program: runs}, {program: median throughput}
        for rate in a.link_rates:
            size = bench.link_size(rate)
            runs = {p: r.get(result_key(p, size, rate)) for p in ("setup", "bare")}
            if not runs["setup"] or not runs["bare"]:
                continue
            thr = {p: median([m.throughput for m in runs[p]]) for p in runs}
            rows.append((f"Throughput at a {fmt_rate(rate)} link, {fmt_size(size)} body (MiB/s)",
                         f"{thr['setup']:.2f}", f"{thr['bare']:.2f}",
                         f"{thr['setup'] / thr['bare']:.3f}", "reference", None))
            self.links.append((rate, size, runs, thr))
        self.rows = rows
        self.missed = [row[0] for row in rows if row[5] is False]

    HEADERS = ("Metric", "setup.exe", "bare", "ratio", "target", "verdict")

    def text_rows(self):
        return [(m, s, b, q, t, "-" if ok is None else "within" if ok else "OVER")
                for m, s, b, q, t, ok in self.rows]

    def table(self) -> str:
        rows = [self.HEADERS] + self.text_rows()
        widths = [max(len(x[i]) for x in rows) for i in range(len(self.HEADERS))]
        lines = []
        for i, row in enumerate(rows):
            lines.append("  ".join(c.ljust(widths[j]) if j == 0 else c.rjust(widths[j])
                                   for j, c in enumerate(row)))
            if i == 0:
                lines.append("  ".join("-" * w for w in widths))
        return "\n".join(lines)

    def markdown_table(self) -> str:
        lines = ["| " + " | ".join(self.HEADERS) + " |",
                 "|" + "|".join("---" for _ in self.HEADERS) + "|"]
        lines += ["| " + " | ".join(row) + " |" for row in self.text_rows()]
        return "\n".join(lines)

    def curl_line(self) -> str:
        if self.curl is None:
            return "Reference: curl was not run (not installed)."
        return (f"Reference: curl, same {fmt_size(self.big)} body: {self.curl:.1f} MiB/s; the "
                f"bare program reaches {self.thr['bare'] / self.curl * 100:.0f} % of it, "
                f"setup.exe {self.thr['setup'] / self.curl * 100:.0f} %.")

    def link_lines(self) -> List[str]:
        """Per capped link: whether the server held the rate, and whether the programs made
        the link wait."""
        lines = []
        for rate, size, runs, thr in self.links:
            sent = {p: median([size / m.server_s for m in runs[p]]) for p in runs}
            # The pacing alone: each run's send time without the link's waits for the program.
            off = max(abs(size / (m.server_s - m.held_s) / rate - 1)
                      for m in runs["setup"] + runs["bare"])
            held = {p: [m.held_s for m in runs[p]] for p in runs}
            reach = {p: thr[p] * MIB / rate for p in runs}
            ok = off <= 0.02 and 0.95 <= reach["bare"] <= 1.01
            lines.append(
                f"Link capped at {rate / 1e6:g} MB/s ({rate / MIB:.2f} MiB/s), {fmt_size(size)} "
                f"body: the server sent at {sent['bare'] / 1e6:.2f} MB/s to the bare program, "
                f"{sent['setup'] / 1e6:.2f} MB/s to setup.exe (medians), its pacing within "
                f"{off * 100:.2f} % of the cap in every run; the link waited for the program to "
                f"read (median / max) bare {median(held['bare']):.3f} / {max(held['bare']):.3f} "
                f"s, setup.exe {median(held['setup']):.3f} / {max(held['setup']):.3f} s; "
                f"throughput {reach['bare'] * 100:.1f} % of the cap for the bare program, "
                f"{reach['setup'] * 100:.1f} % for setup.exe. "
                + ("Rate held." if ok else "RATE NOT HELD: these figures do not show the cap."))
        return lines

    def diagnosis(self) -> List[str]:
        b = self.bench
        if not b.variants:
            return []
        lines = ["Diagnosis: uicost.exe builds setup.exe's window from setup.exe's own manifest "
                 "and dialog template and repeats its per-chunk work without any network "
                 "(desktop held as in the runs above).",
                 "  Start-up steps beyond the bare program's (time; resident memory added):"]
        extra_ms = extra_kib = 0.0
        prev_rss = None
        notes = {"fonts": "first use of the font system (the dialog's text)",
                 "comctl32-load": "loading version 6 of the common controls",
                 "common-controls": "InitCommonControlsEx",
                 "template": "setup.exe's dialog template",
                 "dialog": "the first window: Wine's X11 driver, the dialog, its controls",
                 "first-paint": "first paint (setup.exe requests before it)"}
        for step in b.steps:
            if prev_rss is not None and step["name"] in notes:
                grow = step["rss_kib"] - prev_rss
                if step["name"] != "first-paint":
                    extra_ms += step["ms"]
                    extra_kib += grow
                lines.append(f"    {step['name']:16} {step['ms']:7.1f} ms  {grow / 1024:+5.1f} MiB  "
                             f"{notes[step['name']]}")
            prev_rss = step["rss_kib"]
        gap_ms = (self.startup["setup"] - self.startup["bare"]) * 1000
        gap_mib = self.peak["setup", self.small] - self.peak["bare", self.small]
        lines.append(f"    {'before request':16} {extra_ms:7.1f} ms  {extra_kib / 1024:+5.1f} MiB  "
                     f"measured gap: start-up {gap_ms:+.0f} ms, peak memory {gap_mib:+.1f} MiB")
        split = {}
        for p in ("setup", "bare"):
            runs = b.results[f"{p}-{self.small}"]
            split[p] = (median([m.top_anon_kib for m in runs]) / 1024,
                        median([m.top_file_kib for m in runs]) / 1024)
        lines.append(f"  Resident memory at its highest poll ({fmt_size(self.small)} body), "
                     f"anonymous + file and shared pages: setup.exe {split['setup'][0]:.1f} + "
                     f"{split['setup'][1]:.1f} MiB, bare {split['bare'][0]:.1f} + "
                     f"{split['bare'][1]:.1f} MiB.")
        v = b.variants
        n_in = int(v["as-is"]["in_range_chunks"])
        n_beyond = int(v["as-is"]["beyond_chunks"])
        lines.append(f"  Per 32768-byte chunk of the {fmt_size(self.big)} body ({n_in} chunks "
                     f"while the bar moves, {n_beyond} after it is full), microseconds:")
        lines.append(f"    {'variant':18} {'moving':>8} {'full':>8} {'paints':>7} {'paint us':>9}"
                     f" {'adds s':>7} {'ratio':>6}")
        bare_t = self.transfer["bare"]
        order = ["as-is", "message-only", "pump-only", "pump-only-noyield", "clamped",
                 "clamped-noyield", "clamped-status"]
        for name in order:
            if name not in v:
                continue
            x = v[name]
            adds = (x["in_range_chunks"] * x["in_range_us"] + x["beyond_chunks"] * x["beyond_us"]) / 1e6
            paints = int(x["paints_in_range"] + x["paints_beyond"])
            paint_us = ((x["paints_in_range"] * x["paint_us_in_range"] +
                         x["paints_beyond"] * x["paint_us_beyond"]) / paints) if paints else 0.0
            lines.append(f"    {name:18} {x['in_range_us']:8.1f} {x['beyond_us']:8.1f} {paints:7d}"
                         f" {paint_us:9.1f} {adds:7.3f} {bare_t / (bare_t + adds):6.3f}")
        measured = self.transfer["setup"] - bare_t
        lines.append(f"    ('adds s': the variant's time for all chunks; 'ratio': the bare "
                     f"program's median transfer {bare_t:.3f} s over itself plus that time. "
                     f"Measured: setup.exe's median transfer is {measured:.3f} s longer.)")
        nocache = b.results.get(f"bare-nocache-{self.big}")
        if nocache:
            thr = median([m.throughput for m in nocache])
            peak = median([m.maxrss_kib for m in nocache]) / 1024
            lines.append(f"  WinInet's cache: both programs write the body twice, to the "
                         f"destination and into the cache (Content.IE5). The bare program with "
                         f"INTERNET_FLAG_NO_CACHE_WRITE: {thr:.1f} MiB/s against "
                         f"{self.thr['bare']:.1f} MiB/s ({thr / self.thr['bare']:.2f}x), peak "
                         f"memory {peak:.1f} MiB against {self.peak['bare', self.big]:.1f} MiB "
                         f"({fmt_size(self.big)} body) and {self.peak['bare', self.small]:.1f} MiB "
                         f"({fmt_size(self.small)} body).")
        return lines

    def markdown(self, elapsed: float) -> str:
        b = self.bench
        a = b.args
        wine_version = subprocess.run([b.wine64, "--version"], capture_output=True,
                                      text=True).stdout.strip()
        cpu = ""
        try:
            with open("/proc/cpuinfo") as f:
                for line in f:
                    if line.startswith("model name"):
                        cpu = line.split(":", 1)[1].strip()
                        break
        except OSError:
            pass
        r = b.results
        comms = sorted({str(m.comm) for k, v in r.items() if not k.startswith("curl")
                        for m in v})
        cache = {k: median([m.cache_bytes for m in v]) for k, v in r.items() if not v[0].rate}
        links = (f"; then capped links of {', '.join(fmt_rate(x) for x in a.link_rates)}, "
                 f"{a.link_seconds:g} s of body at the rate (in whole MiB), the same alternation "
                 f"({b.links_s:.0f} s in all)"
                 if self.links else "; no capped links")
        md = ["# setup.exe benchmark", "",
              f"- Date: {datetime.datetime.now().astimezone().isoformat(timespec='seconds')}",
              f"- Command: `{a.command}`",
              f"- Machine: nproc {len(os.sched_getaffinity(0))} ({cpu}), Linux {platform.release()}, "
              f"{wine_version}; load average before the runs: {a.load_before or '?'}",
              f"- Runs: {a.runs} of each program per body, alternating (setup.exe first in odd "
              f"rounds, the bare program first in even ones), after one warm-up run each; bodies "
              f"{self.small} and {self.big} bytes{links}; 127.0.0.1:{a.port}; Wine desktop "
              f"{a.desktop}",
              f"- Whole benchmark: {elapsed:.0f} s", "",
              self.markdown_table(), "", self.curl_line(), ""]
        for line in self.link_lines():
            md += [line, ""]
        diagnosis = self.diagnosis()
        if diagnosis:
            md += ["## Diagnosis", "", "```"] + diagnosis + ["```", ""]
        md += ["## Spread of the runs (min..max, largest distance from the median)", ""]
        for p in ("setup", "bare"):
            vals = self.vals
            md.append(f"- {p}: throughput {spread(vals(p, self.big, 'throughput'))} MiB/s; "
                      f"start-up {spread([x * 1000 for x in vals(p, self.small, 'startup') + vals(p, self.big, 'startup')])} ms; "
                      f"peak {fmt_size(self.small)} {spread([x / 1024 for x in vals(p, self.small, 'maxrss_kib')])} MiB; "
                      f"peak {fmt_size(self.big)} {spread([x / 1024 for x in vals(p, self.big, 'maxrss_kib')])} MiB")
        for key, label in ((f"curl-{self.big}", "curl"),
                           (f"bare-nocache-{self.big}", "bare, no cache write")):
            if key in r:
                md.append(f"- {label}: throughput {spread([m.throughput for m in r[key]])} MiB/s")
        for rate, size, runs, _ in self.links:
            for p in ("setup", "bare"):
                md.append(f"- {p}, {fmt_rate(rate)} link: throughput "
                          f"{spread([m.throughput for m in runs[p]])} MiB/s")
        md += ["", "## How the figures are taken", "",
               "- Throughput: body size over the time from the server's having the complete "
               "request headers to the inotify IN_CLOSE_WRITE event of the destination file, "
               "which Linux reports when the last descriptor of the file's open instance is "
               "closed (Wine's server and the process each close theirs when the handle is "
               "closed). Both programs close the response before the destination, so the mark "
               "covers the same WinInet work.",
               "- Start-up: from just before the process is created to the server's having the "
               "complete request headers; medians over the runs of both bodies. The process is "
               "started through /bin/sh (about a millisecond, the same for both).",
               "- Peak memory: ru_maxrss from wait4 on the process that runs the Windows "
               "program. `wine64 prog.exe` keeps its process id and becomes the Windows process "
               f"(its name in /proc was: {', '.join(comms)}), so the figure is that process's "
               "peak resident set over its whole life: the program's image, Wine's libraries "
               "and the DLLs it maps and touches (shared file pages count in full), heaps and "
               "stacks, WinInet's buffers. Not included: wineserver, explorer.exe (the desktop) "
               "and the launched package. The kernel starts a new process's ru_maxrss from the "
               "peak of the memory it was forked from, so each program is forked from dash "
               "(a floor of "
               f"{b.floor_kib / 1024:.1f} MiB, measured with /bin/true), not from this Python "
               "process, and this process is the child subreaper that waits for it. The "
               "children that the program itself waits for count too: Wine's short-lived fork "
               "on the way to starting the package, which cannot exceed the parent. VmHWM "
               f"polled every 10 ms agreed within {max_hwm_gap(r):.1f} MiB (the kernel keeps "
               "these counts per CPU: both readings are approximate by a few hundred KiB).",
               "- WinInet's cache: with setup.exe's flags WinInet also writes the body into its "
               "cache; after a run the cache held (median) "
               + ", ".join(f"{k} {fmt_size(int(c))}" for k, c in cache.items()
                           if not k.startswith("curl"))
               + ". The benchmark empties the cache before every run."]
        if self.links:
            md += ["- Throughput at a capped link rate: the same mark, with the server sending the "
                   f"body in {LINK_PIECE // 1024} KiB pieces, each when a schedule counted from "
                   "the request on the monotonic clock has room for all of it at the rate (the average "
                   "rate is exact; a late wake-up of the server is made up with the next piece). A "
                   "link cannot run ahead of a program that does not read: when a piece is due "
                   "while bytes of the previous one still wait in the server's send queue "
                   "(SIOCOUTQNSD; the program's receive buffer is full), the server waits for them "
                   "to go and that time is lost, as on a real link; its total is 'the link waited "
                   "for the program'. While the program paints, the kernel goes on receiving into "
                   "its socket buffer, so a program whose own ceiling is above the rate keeps up. "
                   "Loopback, no traffic shaping: the link has no latency and no losses. The "
                   "server's send time (request to last piece) checks the pacing; the bare "
                   "program's throughput near the cap checks that the link, not the program, was "
                   "the limit."]
        md += ["", "## Runs (in the order they ran, after the two warm-up runs)", "",
               "| # | program | body | start-up ms | transfer s | MiB/s | ru_maxrss MiB | "
               "VmHWM polled MiB | lifetime s |",
               "|---|---|---|---|---|---|---|---|---|"]
        for m in sorted((m for ms in r.values() for m in ms), key=lambda m: m.index):
            life = f"{m.ended - m.started:.2f}" if m.ended else "-"
            md.append(f"| {m.index} | {m.label} | {m.size} | {m.startup * 1000:.1f} | "
                      f"{m.transfer:.3f} | {m.throughput:.1f} | "
                      f"{(m.maxrss_kib or 0) / 1024:.1f} | {(m.hwm_kib or 0) / 1024:.1f} | "
                      f"{life} |")
        return "\n".join(md) + "\n"


def max_hwm_gap(r) -> float:
    gap = 0.0
    for key, ms in r.items():
        for m in ms:
            if not key.startswith("curl") and m.maxrss_kib and m.hwm_kib:
                gap = max(gap, abs(m.maxrss_kib - m.hwm_kib) / 1024)
    return gap


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--setup", required=True)
    p.add_argument("--bare", required=True)
    p.add_argument("--package", required=True, help="the do-nothing program the server pads")
    p.add_argument("--desktop-hold", required=True)
    p.add_argument("--uicost", required=True)
    p.add_argument("--state", required=True, help="folder for bodies, temp folder, logs")
    p.add_argument("--port", type=int, default=47812)
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--small", type=int, default=2000000, help="small body in bytes")
    p.add_argument("--big", type=int, default=256 * MIB, help="large body in bytes")
    p.add_argument("--desktop", choices=("held", "cold"), default="held",
                   help="held: a program keeps the Wine desktop alive between runs, as on "
                        "Windows; cold: each run of setup.exe may wait for a new desktop")
    p.add_argument("--diagnose", choices=("auto", "always", "never"), default="auto",
                   help="auto: when setup.exe misses a target")
    p.add_argument("--link-rates", type=parse_rates, default=parse_rates("12.5e6,25e6,60e6"),
                   help="capped link rates in bytes per second, comma-separated, or 'none' "
                        "(default 12.5e6,25e6,60e6: 100, 200 and 480 Mbit/s)")
    p.add_argument("--link-seconds", type=float, default=1.25,
                   help="body for a capped link: this many seconds at the rate (default 1.25)")
    p.add_argument("--results", required=True, help="markdown file to write")
    p.add_argument("--command", default=" ".join(sys.argv))
    p.add_argument("--load-before", default="")
    a = p.parse_args()
    if a.runs < 1 or a.small < 100000 or a.big < a.small:
        p.error("need --runs >= 1 and 100000 <= --small <= --big")
    if not 0.5 <= a.link_seconds <= 60:
        p.error("need 0.5 <= --link-seconds <= 60")
    if "WINEPREFIX" not in os.environ:
        p.error("WINEPREFIX is not set: run through scripts/bench.sh")
    for name in ("setup", "bare", "package", "desktop_hold", "uicost"):
        path = Path(getattr(a, name)).resolve()
        if not path.is_file():
            p.error(f"--{name.replace('_', '-')}: no file {path}")
        setattr(a, name, str(path))

    started = time.monotonic()
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_CHILD_SUBREAPER = 36
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        print("bench: cannot become the child subreaper", file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    bench = Bench(a)
    try:
        bench.prepare()
        bench.measure()
        figures = Figures(bench)
        if a.diagnose == "always" or (a.diagnose == "auto" and figures.missed):
            bench.diagnose()
            figures = Figures(bench)
    except (BenchError, subprocess.TimeoutExpired, OSError) as e:
        print(f"bench: could not measure: {e}", file=sys.stderr)
        return 2
    finally:
        bench.close()
    elapsed = time.monotonic() - started
    print()
    print(figures.table())
    print(figures.curl_line())
    for line in figures.link_lines():
        print(line)
    for line in figures.diagnosis():
        print(line)
    results = Path(a.results)
    results.write_text(figures.markdown(elapsed))
    raw = {k: [m.row() for m in v] for k, v in bench.results.items()}
    raw["uicost"] = {"steps": bench.steps, "variants": bench.variants}
    results.with_suffix(".json").write_text(json.dumps(raw, indent=1))
    print(f"written: {results}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
