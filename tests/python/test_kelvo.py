"""The Python package against the command-line tools it stands beside: the same facts, the
same thumbnails, errors with their domain and code, threads side by side, and the isolated
mode surviving a file that kills its process."""
import os
import shutil
import struct
import threading

import numpy
import pytest

import kelvo

EXAMPLES = os.path.join(os.environ["KELVO_SOURCE_DIR"], "examples")
KNOT = os.path.join(EXAMPLES, "torus-knot.stl")


def png_size(png):
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", png[16:24])


def test_load_gives_the_inspect_facts():
    facts = kelvo.load(KNOT)
    assert facts["file"] == KNOT
    assert facts["totals"]["triangles"] == 7680
    assert set(facts) == {"file", "totals", "boundingBox", "background", "root"}


def test_thumbnail_equals_the_thumbnailers_in_and_out_of_process(tmp_path):
    in_process = kelvo.thumbnail(KNOT, size=128)
    isolated = kelvo.thumbnail(KNOT, size=128, isolated=True)
    assert png_size(in_process) == (128, 128)
    a = kelvo._kelvo.decode_png(in_process)
    b = kelvo._kelvo.decode_png(isolated)
    assert numpy.array_equal(a, b)
    assert a[64, 64, 3] == 255  # the knot covers the middle


def test_render_is_an_rgba_array_with_or_without_the_mark():
    marked = kelvo.render(KNOT, 96, 64)
    plain = kelvo.render(KNOT, 96, 64, mark=False)
    assert marked.shape == (64, 96, 4) and marked.dtype == numpy.uint8
    assert not numpy.array_equal(marked, plain)  # the mark sits top left
    assert numpy.array_equal(marked[40:, 40:], plain[40:, 40:])
    isolated = kelvo.render(KNOT, 96, 64, mark=False, isolated=True)
    assert numpy.array_equal(isolated, plain)


def test_errors_carry_domain_code_and_message(tmp_path):
    missing = str(tmp_path / "missing.stl")
    notes = tmp_path / "notes.stl"
    notes.write_text("not a model\n")
    broken = tmp_path / "broken.3mf"
    broken.write_bytes(b"PK\x03\x04 not really")
    cases = [
        (lambda: kelvo.load(missing), "POSIX", 2),
        (lambda: kelvo.load(str(tmp_path / "a.xyz")), "SceneLoader", -3),
        (lambda: kelvo.thumbnail(str(notes)), "KelvoThumbnail", 1),
        (lambda: kelvo.thumbnail(str(notes), isolated=True), "KelvoThumbnail", 1),
        (lambda: kelvo.render(str(broken), 8, 8), "KelvoPython.ZIPReader.ZIPError", 2),
    ]
    for call, domain, code in cases:
        with pytest.raises(kelvo.KelvoError) as raised:
            call()
        assert (raised.value.domain, raised.value.code) == (domain, code), str(raised.value)
        assert raised.value.message
    with pytest.raises(ValueError):
        kelvo.render(KNOT, 0, 10)


def test_isolated_mode_survives_a_file_that_kills_its_worker(tmp_path, monkeypatch):
    # Servers started from here on make their workers crash on this name.
    kelvo._server._stop_all()
    monkeypatch.setenv("KELVO_TEST_CRASH_ON", "boom.stl")
    boom = tmp_path / "boom.stl"
    shutil.copy(KNOT, boom)
    try:
        with pytest.raises(kelvo.KelvoError) as raised:
            kelvo.thumbnail(str(boom), size=64, isolated=True)
        assert (raised.value.domain, raised.value.code) == ("KelvoThumbnail", 5)
        # The same server goes on with a new worker, relative paths and all.
        monkeypatch.chdir(EXAMPLES)
        assert kelvo.thumbnail("torus-knot.stl", size=64, isolated=True) == \
            kelvo.thumbnail(KNOT, size=64)
    finally:
        kelvo._server._stop_all()


def test_threads_run_side_by_side_and_agree():
    files = [os.path.join(EXAMPLES, name) for name in sorted(os.listdir(EXAMPLES))
             if name.rsplit(".", 1)[-1] in ("stl", "3mf", "vox", "glb", "obj", "ply")]
    expected = {f: kelvo.thumbnail(f, size=96) for f in files}
    results, errors = {}, []

    def work(k):
        try:
            for f in files[k % len(files):] + files[:k % len(files)]:
                results[(k, f)] = kelvo.thumbnail(f, size=96)
        except Exception as e:  # reported below, not lost in the thread
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert all(png == expected[f] for (_, f), png in results.items())
    assert len(results) == 4 * len(files)
