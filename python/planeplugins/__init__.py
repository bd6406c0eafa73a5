# SPDX-License-Identifier: MIT
"""GRA and Q pictures (640 x 400, 8 or 16 colours in bit planes) in Python.

Importing the package registers both formats with Pillow, when Pillow is there::

    import planeplugins
    from PIL import Image
    with Image.open("card.gra") as im:
        print(im.size, im.info["colors"], im.info["companions"])
        im.save("card.png")

Without Pillow, decode() gives a picture's colour indices and palette.

A GRA picture read from a path takes its colours and fourth plane from the files beside it
(card.rgb and card.e1, any letter case), as the plug-in itself finds them; one read from bytes
has none. Failures raise PictureError (an OSError) naming the file and the cause.
"""

import os
from typing import NamedTuple, Union

from . import _native

__all__ = ["Decoded", "FORMATS", "PictureError", "SIZE", "decode"]

PictureError = _native.PictureError

# The formats as the plug-ins and the host library describe them: dicts of id ("GRA", "Q"),
# title, description, extensions, mime_type and largest_file (no file of the format is longer;
# no more of a file is ever read).
FORMATS = tuple(_native.formats())
_BY_ID = {facts["id"]: facts for facts in FORMATS}


class Decoded(NamedTuple):
    """A decoded picture."""

    indices: bytes  # a colour index (0 to 15) a pixel, rows top first: SIZE[0] * SIZE[1] bytes
    palette: bytes  # the 16 colours as red, green, blue bytes
    comment: bytes  # a Q picture's comment, b"" when it has none
    companions: dict  # the companion files used: {"palette": path, "fourth_plane": path}


# Every picture of both formats has this size (width, height).
SIZE = _native.SIZE


def _largest(format_id):
    return _BY_ID[format_id]["largest_file"]


def _named(label, error):
    """error (a PictureError) with the file's name in front, when there is one."""
    return PictureError(f"{label}: {error}" if label else str(error))


def _format_of(head, label):
    format_id, reason = _native.identify(head)
    if format_id is None:
        raise PictureError(f"{label}: {reason}" if label else reason)
    return format_id


def decode(source: Union[str, os.PathLike, bytes, bytearray, memoryview]) -> Decoded:
    """Decodes a picture file named by a path (with its companions), or held as bytes."""
    if isinstance(source, (bytes, bytearray, memoryview)):
        path, label = None, ""
        data = bytes(source)
        format_id = _format_of(data[: _native.RECOGNITION_BLOCK], label)
        data = data[: _largest(format_id)]
    else:
        path = label = os.fspath(source)
        with open(path, "rb") as file:
            head = file.read(_native.RECOGNITION_BLOCK)
            format_id = _format_of(head, label)
            data = head + file.read(max(0, _largest(format_id) - len(head)))
    try:
        picture = _native.decode(format_id, data, path)
    except PictureError as error:
        raise _named(label, error) from None
    return Decoded(
        picture["indices"], picture["palette"], picture["comment"], picture["companions"]
    )


try:
    import PIL  # noqa: F401
except ImportError:
    pass
else:
    from . import pillow_plugin  # noqa: F401  (registers the formats)
