"""Thumbnails in isolated mode: kelvo-cache --serve processes, started once and reused.

A server draws each file in a confined worker of its own and survives files that crash or
hang that worker, so a process start is paid once, not per file. A call takes an idle server
or starts one, so threads run side by side; a process forked from this one starts its own.
"""
import atexit
import os
import struct
import subprocess
import threading

_lock = threading.Lock()
_idle = []
_owner = None  # the process the idle servers belong to


def _take(program):
    global _owner
    with _lock:
        if _owner != os.getpid():
            _idle.clear()  # a forked copy of the parent's servers: theirs, not ours
            _owner = os.getpid()
        while _idle:
            server = _idle.pop()
            if server.poll() is None:
                return server
    # Dask's worker processes set a low malloc trim threshold to return memory early; in the
    # server it would hand every model's buffers back to the kernel and fault them in again,
    # which halves its speed. Its memory is bounded by its own budget instead.
    environment = {k: v for k, v in os.environ.items() if k != "MALLOC_TRIM_THRESHOLD_"}
    return subprocess.Popen([program, "--serve"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, env=environment)


def _give_back(server):
    with _lock:
        if _owner == os.getpid():
            _idle.append(server)
            return
    _stop(server)


def _stop(server):
    try:
        server.stdin.close()
    except OSError:
        pass
    server.wait()


@atexit.register
def _stop_all():
    with _lock:
        servers = list(_idle) if _owner == os.getpid() else []
        _idle.clear()
    for server in servers:
        _stop(server)


def _read_exactly(stream, size):
    data = stream.read(size)
    if data is None or len(data) != size:
        raise EOFError
    return data


def _decode_error(body):
    """(domain, code, message) from an error reply's body: its code, domain and user info."""
    (code,) = struct.unpack_from("=q", body, 0)
    at = 8

    def string():
        nonlocal at
        (length,) = struct.unpack_from("=I", body, at)
        text = body[at + 4:at + 4 + length].decode("utf-8", "replace")
        at += 4 + length
        return text

    domain = string()
    (count,) = struct.unpack_from("=I", body, at)
    at += 4
    info = {}
    for _ in range(count):
        key = string()
        info[key] = string()
    return domain, code, info.get("NSLocalizedDescription", "")


def thumbnail(program, path, size):
    """The PNG bytes of `path`'s thumbnail, or (domain, code, message) of its failure."""
    # The server's folder is this process's at its start: relative paths are made whole now.
    if not path.startswith("file:"):
        path = os.path.abspath(path)
    request = os.fsencode(path)
    for attempt in range(2):
        server = _take(program)
        try:
            server.stdin.write(struct.pack("=II", size, len(request)) + request)
            server.stdin.flush()
            kind, length = struct.unpack("=cI", _read_exactly(server.stdout, 5))
            body = _read_exactly(server.stdout, length)
        except (OSError, EOFError, struct.error):
            # The server itself went (killed from outside): a new one gets one more try.
            server.kill()
            server.wait()
            continue
        _give_back(server)
        if kind == b"P":
            return body
        return _decode_error(body)
    return ("KelvoThumbnail", 5, "The isolated mode's server ended unexpectedly")
