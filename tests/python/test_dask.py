"""kelvo.dask on a real (local) cluster of two worker processes: every file gets a record in
order, good files a PNG, a bad one its error, and the cache layout names files as the
freedesktop cache does."""
import hashlib
import os

import pytest

distributed = pytest.importorskip("distributed")

import kelvo
import kelvo.dask

EXAMPLES = os.path.join(os.environ["KELVO_SOURCE_DIR"], "examples")


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as c:
            yield c


def test_thumbnail_many_records_every_file_in_order(client, tmp_path):
    bad = tmp_path / "notes.stl"
    bad.write_text("not a model\n")
    paths = [os.path.join(EXAMPLES, n) for n in ("torus-knot.stl", "cars.vox", "die.obj")]
    paths.insert(1, str(bad))
    out = tmp_path / "out"
    records = kelvo.dask.thumbnail_many(paths, str(out), size=64, client=client, chunk_size=2)
    assert [r["path"] for r in records] == paths
    assert [r["ok"] for r in records] == [True, False, True, True]
    assert records[1]["error"].startswith("KelvoThumbnail 1: ")
    for r in records:
        assert r["seconds"] >= 0
        if r["ok"]:
            with open(r["output"], "rb") as f:
                assert f.read() == kelvo.thumbnail(r["path"], size=64)


def test_cache_layout_uses_the_cache_names(client, tmp_path):
    knot = os.path.join(EXAMPLES, "torus-knot.stl")
    records = kelvo.dask.thumbnail_many([knot], str(tmp_path), size=64, client=client,
                                        layout="cache")
    uri = "file://" + os.path.abspath(knot)
    assert os.path.basename(records[0]["output"]) == hashlib.md5(uri.encode()).hexdigest() + ".png"
