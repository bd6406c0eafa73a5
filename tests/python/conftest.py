# SPDX-License-Identifier: MIT
"""The pictures the Python tests read, and planeconv's PNG of each as the reference.

Every picture comes twice as a reference: with its companions beside it (what a path or a
file object with that path gives) and alone (what bytes in memory give).
"""

import os
import shutil
import subprocess
from pathlib import Path

import pytest
from PIL import Image

SAMPLES = Path(os.environ["PLANES_SAMPLES"])
PLANECONV = os.environ["PLANECONV"]
PINNED_TOOL = os.environ["PINNED_TOOL"]
COMPANION_SUFFIXES = (".rgb", ".e1")


def convert(picture, png):
    subprocess.run([PLANECONV, "convert", str(picture), "-o", str(png)], check=True,
                   capture_output=True)


class Case:
    """A picture (with its companions beside it) and planeconv's PNGs of it."""

    def __init__(self, picture, with_companions, alone):
        self.picture = picture
        self.with_companions = with_companions  # the reference read by path
        self.alone = alone  # the reference read from memory

    def __repr__(self):
        return f"{self.picture.parent.name}/{self.picture.name}"


@pytest.fixture(scope="session")
def picture_folder(tmp_path_factory):
    """The samples, with their companions, in a folder, and the writers' pictures in its
    subfolder "written"."""
    folder = tmp_path_factory.mktemp("pictures")
    for file in SAMPLES.iterdir():
        if file.suffix.lower() in (".gra", ".q") + COMPANION_SUFFIXES:
            shutil.copy(file, folder)
    # The writer pictures of the test-picture library, as the pinned outputs cover them.
    every = tmp_path_factory.mktemp("pinned")
    subprocess.run([PINNED_TOOL, "files", str(every)], check=True)
    shutil.copytree(every / "writer", folder / "written")
    return folder


@pytest.fixture(scope="session")
def cases(picture_folder, tmp_path_factory):
    references = tmp_path_factory.mktemp("references")
    found = []
    for picture in sorted(picture_folder.rglob("*")):
        if picture.suffix.lower() not in (".gra", ".q"):
            continue
        name = str(picture.relative_to(picture_folder)).replace("/", "-")
        with_companions = references / (name + ".png")
        convert(picture, with_companions)
        lone = tmp_path_factory.mktemp("alone")
        shutil.copy(picture, lone)
        alone = references / (name + ".alone.png")
        convert(lone / picture.name, alone)
        found.append(Case(picture, with_companions, alone))
    assert len(found) >= 10, found
    return found


def same_picture(image, reference_png):
    """Whether image holds reference_png's colour indices, palette and RGB pixels."""
    with Image.open(reference_png) as reference:
        assert reference.mode == "P"
        return (
            image.size == reference.size
            and image.mode == "P"
            and image.tobytes() == reference.tobytes()
            and image.getpalette()[:48] == reference.getpalette()[:48]
            and image.convert("RGB").tobytes() == reference.convert("RGB").tobytes()
        )
