"""Kelvo's 3D model thumbnails and renders from Python.

    >>> import kelvo
    >>> png = kelvo.thumbnail("part.stl")                 # PNG bytes, brand mark included
    >>> rgba = kelvo.render("scene.glb", 640, 480)       # numpy array, 480 x 640 x 4 uint8
    >>> facts = kelvo.load("part.3mf")                    # what kelvo-inspect prints, as a dict

Every call works in this process with the GIL released, so threads run side by side. With
isolated=True the work is done in a process of its own, confined and limited in time and
memory as the thumbnailer is, so that a hostile file cannot take the interpreter down:
thumbnails by a kelvo-cache server that is started once and reused, renders by kelvo-inspect.
Failures raise KelvoError.
"""
import json
import os
import subprocess
import tempfile

from . import _kelvo

__all__ = ["KelvoError", "load", "thumbnail", "render", "version"]
version = _kelvo.version


class KelvoError(Exception):
    """A model that could not be loaded, drawn or written: domain, code and message as the
    command-line tools print them ("DOMAIN CODE: MESSAGE")."""

    def __init__(self, domain, code, message):
        super().__init__("%s %d: %s" % (domain, code, message))
        self.domain, self.code, self.message = domain, code, message


def _native(call, *args, **kwargs):
    try:
        return call(*args, **kwargs)
    except _kelvo._Failure as failure:
        raise KelvoError(*failure.args) from None


def _program(name):
    """The Kelvo program `name`, where the build or the package put it."""
    from . import _programs
    path = _programs.paths[name]
    if not os.access(path, os.X_OK):
        raise KelvoError("Kelvo", -1, "%s is missing: the isolated mode runs it" % path)
    return path


def _run_isolated(argv, output):
    """Runs a Kelvo program that writes `output`; its bytes, or KelvoError from its one line
    "PROGRAM: FILE: DOMAIN CODE: MESSAGE" on standard error."""
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if done.returncode == 0 and os.path.exists(output):
        with open(output, "rb") as f:
            return f.read()
    line = done.stderr.decode("utf-8", "replace").strip().splitlines()
    line = line[-1] if line else "Kelvo -1: the program ended with status %d" % done.returncode
    # The file name may hold ": ", the error's own part starts after the last "FILE: ".
    summary = line.split(": ", 2)[-1] if line.count(": ") >= 2 else line
    domain, _, rest = summary.partition(" ")
    code, _, message = rest.partition(": ")
    try:
        raise KelvoError(domain, int(code), message)
    except ValueError:
        raise KelvoError("Kelvo", -1, line) from None


def load(path):
    """The scene `path` loads to, as kelvo-inspect prints it: file, totals, boundingBox and
    the node tree."""
    return json.loads(_native(_kelvo.load_json, os.fspath(path)))


def thumbnail(path, size=256, isolated=False):
    """The PNG bytes of the thumbnail of `path`, `size` pixels square, exactly as the
    desktop's thumbnailer makes it."""
    path = os.fspath(path)
    if not isolated:
        return _native(_kelvo.thumbnail, path, size)
    if not 1 <= int(size) <= 4096:
        raise ValueError("size must be 1 to 4096 pixels")
    from . import _server
    made = _server.thumbnail(_program("kelvo-cache"), path, int(size))
    if isinstance(made, tuple):
        raise KelvoError(*made)
    return made


def render(path, width, height, mark=True, isolated=False):
    """A width x height rendering of `path` staged as the thumbnailer stages it: a numpy
    array of height x width x 4 uint8 (straight alpha). `mark` adds the brand mark."""
    path = os.fspath(path)
    if not isolated:
        return _native(_kelvo.render, path, int(width), int(height), bool(mark))
    with tempfile.TemporaryDirectory(prefix="kelvo-") as folder:
        out = os.path.join(folder, "render.png")
        argv = [_program("kelvo-inspect"), "--render", out, "--size", str(int(width)),
                str(int(height))]
        if not mark:
            argv.append("--no-mark")
        png = _run_isolated(argv + ["--", path], out)
    return _native(_kelvo.decode_png, png)
