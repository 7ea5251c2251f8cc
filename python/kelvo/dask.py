"""Thumbnails of many files on a Dask cluster.

    >>> from distributed import Client
    >>> import kelvo.dask
    >>> records = kelvo.dask.thumbnail_many(paths, "/shared/thumbs", client=Client(address))

Files go to the workers in chunks; each file is drawn in isolated mode (by a server process
each Dask worker starts once, whose confined worker a hostile file costs, not the Dask worker)
and tried again on the chance that its failure was the machine's. Each file gives a record: path, ok, error, seconds, output.
"""
import hashlib
import os
import time

from . import KelvoError, thumbnail


def _output_path(path, out_dir, layout):
    if layout == "cache":
        from urllib.parse import quote
        # The freedesktop cache's name: the MD5 of the file's URI, escaped as GLib does.
        uri = "file://" + quote(os.path.abspath(path), safe="/!$&'()*+,;=:@-._~")
        return os.path.join(out_dir, hashlib.md5(uri.encode()).hexdigest() + ".png")
    # One PNG per file, named after its path so that equal names in two folders differ.
    digest = hashlib.sha1(os.path.abspath(path).encode()).hexdigest()[:12]
    return os.path.join(out_dir, "%s-%s.png" % (os.path.basename(path), digest))


def _thumbnail_chunk(paths, out_dir, size, layout, tries):
    records = []
    for path in paths:
        started = time.monotonic()
        output = _output_path(path, out_dir, layout)
        error = None
        for attempt in range(tries):
            try:
                png = thumbnail(path, size=size, isolated=True)
                temporary = output + ".part-%d" % os.getpid()
                with open(temporary, "wb") as f:
                    f.write(png)
                os.replace(temporary, output)
                error = None
                break
            except KelvoError as e:
                error = str(e)
                # The file's own failure gives the same answer again; a crash or a time limit
                # may have been the machine's.
                if e.domain != "KelvoThumbnail" or e.code not in (3, 5):
                    break
            except OSError as e:
                error = "POSIX %d: %s" % (e.errno or 0, e.strerror)
        records.append({"path": path, "ok": error is None, "error": error,
                        "seconds": time.monotonic() - started,
                        "output": output if error is None else None})
    return records


def thumbnail_many(paths, out_dir, size=256, client=None, chunk_size=None, retries=1,
                   layout="files"):
    """Thumbnails every path into `out_dir` on the Dask `client` (the default client when
    None) and returns one record per path, in the order given. `layout` "files" names each
    PNG after its file; "cache" names them as the freedesktop cache does (MD5 of the URI),
    for an out_dir such as ~/.cache/thumbnails/large. Without `chunk_size`, chunks hold up to
    64 files and every worker thread gets about four, so that no worker idles at the end."""
    if client is None:
        from distributed import default_client
        client = default_client()
    paths = [os.fspath(p) for p in paths]
    os.makedirs(out_dir, exist_ok=True)
    if chunk_size is None:
        threads = max(1, sum(client.nthreads().values()))
        chunk_size = max(1, min(64, -(-len(paths) // (4 * threads))))
    chunks = [paths[i:i + chunk_size] for i in range(0, len(paths), chunk_size)]
    futures = client.map(_thumbnail_chunk, chunks, out_dir=out_dir, size=size, layout=layout,
                         tries=retries + 1, pure=False)
    records = []
    for chunk in client.gather(futures):
        records.extend(chunk)
    return records
