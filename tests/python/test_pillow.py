# SPDX-License-Identifier: MIT
"""Both formats through Pillow's Image.open: pixels, palette and info against planeconv, every
way a picture can be handed over; errors; and Pillow's own formats left to Pillow."""

import io
import struct
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import planeplugins
import pytest
from conftest import same_picture
from PIL import Image, UnidentifiedImageError
from planeplugins import pillow_plugin


def by_path(picture):
    return Image.open(str(picture))


def by_path_object(picture):
    return Image.open(Path(picture))


def by_file(picture):
    return Image.open(open(picture, "rb"))


def by_bytes(picture):
    return Image.open(io.BytesIO(picture.read_bytes()))


# How a picture is handed over, and whether its companions count then.
ROUTES = [(by_path, True), (by_path_object, True), (by_file, True), (by_bytes, False)]


@pytest.mark.parametrize("route, companions", ROUTES, ids=lambda r: getattr(r, "__name__", ""))
def test_every_picture_is_planeconvs(cases, route, companions):
    for case in cases:
        image = route(case.picture)
        try:
            assert image.format == case.picture.suffix[1:].upper()
            assert image.info["colors"] in (8, 16)
            used = image.info["companions"]
            assert bool(used) == (companions and case.with_companions.read_bytes() !=
                                  case.alone.read_bytes()), (case, used)
            reference = case.with_companions if companions else case.alone
            assert same_picture(image, reference), case
        finally:
            if image.fp:
                image.fp.close()


def test_companions_are_named_and_change_the_picture(picture_folder):
    card = picture_folder / "card.gra"
    with Image.open(card) as image:
        assert image.info["colors"] == 16
        assert image.info["companions"] == {"palette": str(card.with_suffix(".rgb")),
                                            "fourth_plane": str(card.with_suffix(".e1"))}
        image.load()
        with_companions = image.convert("RGB").tobytes()
    with Image.open(io.BytesIO(card.read_bytes())) as image:
        assert (image.info["colors"], image.info["companions"]) == (8, {})
        assert image.convert("RGB").tobytes() != with_companions


def test_companions_in_any_letter_case(tmp_path, picture_folder, cases):
    case = next(c for c in cases if c.picture.name == "card.gra")
    for suffix, renamed in ((".gra", "CARD.GRA"), (".rgb", "Card.RGB"), (".e1", "card.E1")):
        (tmp_path / renamed).write_bytes((picture_folder / "card").with_suffix(suffix).read_bytes())
    with Image.open(tmp_path / "CARD.GRA") as image:
        assert set(image.info["companions"]) == {"palette", "fourth_plane"}
        assert same_picture(image, case.with_companions)


def test_a_file_object_named_after_another_file_is_read_from_memory(tmp_path, picture_folder):
    # The name points at the picture's place, but the object reads other bytes: no companions.
    card = picture_folder / "card.gra"

    class Renamed(io.BytesIO):
        name = str(card)

    with Image.open(Renamed(card.read_bytes())) as image:
        assert image.info["companions"] == {}


def test_q_header(picture_folder):
    with Image.open(picture_folder / "written" / "q16-busy.q") as image:
        assert (image.size, image.mode) == ((640, 400), "P")
        assert image.info["comment"] == b"Busy, 16 colours"
        assert image.info["colors"] == 16
        assert image.tile, "the header alone is read on open"
    with Image.open(picture_folder / "written" / "q8-scattered-literal.q") as image:
        assert image.info["comment"] == b"Eight \xA4\xB3\xA4\xF3 \xE9t\xE9"
        assert image.info["colors"] == 8
    with Image.open(picture_folder / "written" / "q16-noise.q") as image:
        assert "comment" not in image.info


class CountingReader(io.BytesIO):
    """A file object that remembers the furthest byte read."""

    furthest = 0

    def read(self, size=-1):
        data = super().read(size)
        self.furthest = max(self.furthest, self.tell())
        return data


@pytest.mark.parametrize("name", ["written/gra-default.gra", "written/q16-busy.q"])
def test_no_more_than_the_header_then_the_largest_file_is_read(picture_folder, name):
    largest = {f["id"]: f["largest_file"] for f in planeplugins.FORMATS}
    picture = (picture_folder / name).read_bytes()
    padded = CountingReader(picture + bytes(3 * 1024 * 1024))
    image = Image.open(padded)
    assert padded.furthest <= 16384
    alone = Image.open(io.BytesIO(picture))
    image.load()
    assert padded.furthest <= largest[image.format]
    assert image.tobytes() == alone.tobytes()


def test_convert_and_save(tmp_path, cases):
    case = next(c for c in cases if c.picture.name == "card.gra")
    with Image.open(case.picture) as image:
        rgb = image.convert("RGB")
        image.save(tmp_path / "saved.png")
        image.save(tmp_path / "saved.bmp")
    with Image.open(case.with_companions) as reference:
        assert rgb.tobytes() == reference.convert("RGB").tobytes()
    for saved in ("saved.png", "saved.bmp"):
        with Image.open(tmp_path / saved) as again:
            assert same_picture(again, case.with_companions), saved


def test_verify_reads_the_whole_file(cases):
    for case in cases:
        with Image.open(case.picture) as image:
            image.verify()


def truncated(data):
    return data[: len(data) // 2]


def q_with_size(data, size):
    return data[:40] + struct.pack("<HB", size & 0xFFFF, size >> 16) + data[43:]


# Malformed files: the picture, what is done to it, the error and words of its message. A file
# that is not of either format is UnidentifiedImageError; one of a format that the plug-in
# refuses or cannot decode is a PictureError (OSError) with the host library's reason, on open
# when the header shows it, else on load and verify.
MALFORMED = [
    ("card.gra", lambda d: b"plain text, not a picture at all\n" * 20, UnidentifiedImageError, "",
     "open"),
    ("card.gra", lambda d: d[:13] + b"WEX" + d[16:], UnidentifiedImageError, "", "open"),
    ("written/q16-busy.q", lambda d: d[:43] + b"MAJYA" + d[48:], UnidentifiedImageError, "", "open"),
    ("card.gra", lambda d: d[:1] + b"\x09" + d[2:40], planeplugins.PictureError,
     "the header says 9 blocks", "open"),
    ("written/q16-busy.q", lambda d: q_with_size(d, len(d) + 1), planeplugins.PictureError,
     "the size field says", "open"),
    ("written/q16-busy.q", lambda d: d[:100], planeplugins.PictureError, "header alone is 134", "open"),
    ("written/q16-busy.q", truncated, planeplugins.PictureError, "the file ends after", "load"),
    ("written/gra-default.gra", truncated, planeplugins.PictureError, "before the picture's last line",
     "load"),
]


@pytest.mark.parametrize("name, damage, error, words, when", MALFORMED)
def test_malformed_files(tmp_path, picture_folder, name, damage, error, words, when):
    damaged = tmp_path / ("damaged" + Path(name).suffix)
    damaged.write_bytes(damage((picture_folder / name).read_bytes()))
    for source, label in ((str(damaged), str(damaged)), (io.BytesIO(damaged.read_bytes()), "")):
        steps = (lambda: Image.open(source).load(), lambda: Image.open(source).verify())
        for step in steps:
            if isinstance(source, io.BytesIO):
                source.seek(0)
            with pytest.raises(error) as raised:
                step()
            message = str(raised.value)
            assert words in message
            if error is planeplugins.PictureError:
                assert not isinstance(raised.value, UnidentifiedImageError)
                assert message.startswith(label)
                assert len(message) > len(label) + 10, message
        if when == "load":
            Image.open(source).close()  # the header is sound


def test_pillows_own_formats_stay_pillows(tmp_path, cases):
    # A PNG, and a GIF whose first colour makes bytes 13 to 15 "WED", GRA's signature.
    with Image.open(cases[0].alone) as png:
        assert png.format == "PNG"
        png.load()
    gif = Image.new("P", (4, 4), 0)
    gif.putpalette([0x57, 0x45, 0x44, 0, 0, 0])
    gif.save(tmp_path / "wed.gif")
    assert (tmp_path / "wed.gif").read_bytes()[13:16] == b"WED"
    with Image.open(tmp_path / "wed.gif") as opened:
        assert opened.format == "GIF"
        assert opened.convert("RGB").getpixel((0, 0)) == (0x57, 0x45, 0x44)


def test_registration(cases):
    extensions = Image.registered_extensions()
    for facts in planeplugins.FORMATS:
        for extension in facts["extensions"]:
            assert extensions[extension] == facts["id"]
        assert Image.MIME[facts["id"]] == facts["mime_type"]
    assert {f["mime_type"] for f in planeplugins.FORMATS} == {"image/x-gra", "image/x-q-picture"}
    with Image.open(cases[0].picture, formats=[cases[0].picture.suffix[1:].upper()]) as image:
        assert image.get_format_mimetype().startswith("image/x-")


def test_mode_is_set_on_pillows_with_a_read_only_mode():
    class ReadOnlyMode:  # as Pillow 10.1 and later have it
        _mode = ""
        mode = property(lambda self: self._mode)

    class PlainMode:  # as Pillow 9 has it
        mode = ""

    for image in (ReadOnlyMode(), PlainMode()):
        pillow_plugin._set_mode(image, "P")
        assert image.mode == "P"


def test_threads_decode_side_by_side(cases):
    def rgb(case):
        with Image.open(case.picture) as image:
            return image.convert("RGB").tobytes()

    alone = [rgb(case) for case in cases]
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(rgb, cases * 3)) == alone * 3
