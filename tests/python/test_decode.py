# SPDX-License-Identifier: MIT
"""planeplugins.decode, the plain API: indices and palette against planeconv, companions by
path only, errors, and the package without Pillow."""

import os
import subprocess
import sys

import planeplugins
import pytest
from PIL import Image


def test_decode_is_planeconvs(cases):
    width, height = planeplugins.SIZE
    for case in cases:
        for source, reference in ((case.picture, case.with_companions),
                                  (case.picture.read_bytes(), case.alone)):
            indices, palette, comment, companions = planeplugins.decode(source)
            with Image.open(reference) as png:
                assert (width, height) == png.size
                assert indices == png.tobytes(), case
                assert palette == bytes(png.getpalette()[:48]), case
            assert isinstance(comment, bytes)
            if isinstance(source, bytes):
                assert companions == {}


def test_companions_by_path(picture_folder):
    card = picture_folder / "card.gra"
    assert planeplugins.decode(card).companions == {"palette": str(card.with_suffix(".rgb")),
                                                    "fourth_plane": str(card.with_suffix(".e1"))}
    assert planeplugins.decode(picture_folder / "window.gra").companions == {
        "fourth_plane": str(picture_folder / "window.e1")}
    assert planeplugins.decode(picture_folder / "written" / "q16-busy.q").comment == b"Busy, 16 colours"


def test_failures_name_the_file_and_the_cause(tmp_path, picture_folder):
    text = tmp_path / "notes.gra"
    text.write_bytes(b"not a picture" * 10)
    with pytest.raises(planeplugins.PictureError, match=r"notes\.gra: not a GRA or Q picture"):
        planeplugins.decode(text)
    with pytest.raises(planeplugins.PictureError, match=r"^not a GRA or Q picture"):
        planeplugins.decode(b"\0" * 100)
    short = tmp_path / "short.q"
    short.write_bytes((picture_folder / "written" / "q16-busy.q").read_bytes()[:3000])
    with pytest.raises(OSError, match=r"short\.q: the file ends after 3000 bytes"):
        planeplugins.decode(short)
    with pytest.raises(FileNotFoundError):
        planeplugins.decode(tmp_path / "missing.gra")


def test_the_plain_api_needs_no_pillow(picture_folder):
    script = ("import sys; sys.modules['PIL'] = None\n"
              "import planeplugins\n"
              "assert 'planeplugins.pillow_plugin' not in sys.modules\n"
              "print(len(planeplugins.decode(sys.argv[1]).indices))\n")
    run = subprocess.run([sys.executable, "-c", script, str(picture_folder / "card.gra")],
                         capture_output=True, text=True, env=os.environ)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == [str(planeplugins.SIZE[0] * planeplugins.SIZE[1])]
