# SPDX-License-Identifier: MIT
"""The Pillow plug-in of both formats, registered when planeplugins is imported.

Pillow finds no outside plug-in by itself: a program (and each worker process it starts)
imports planeplugins, and from then on Image.open takes GRA and Q pictures by their contents.

- _open reads the file's first bytes and the header: the size, mode "P", info["colors"] (8 or
  16), info["comment"] (a Q picture's comment, bytes) and info["companions"].
- load() decodes, with the interpreter free for other threads meanwhile; the palette comes with
  the pixels (a GRA picture's may come from its palette file, which the plug-in reads then).
- verify() decodes the whole file and keeps nothing.
- A picture read from a path (Image.open(path), or a file object whose name is the path of the
  very file it reads) is read by the plug-in by name, so that a GRA picture's companions beside
  it count; any other (BytesIO) is read from memory, without companions.
- "Not this format" is a SyntaxError (Pillow then tries the other plug-ins, and at the end
  raises UnidentifiedImageError); a file of the format that the plug-in refuses or cannot
  decode is a PictureError (an OSError) naming the file and the cause. No more of a file than
  the largest file of its format is read.
"""

import functools
import os
import stat

from PIL import Image, ImageFile, ImagePalette

from . import _BY_ID, PictureError, _largest, _named, _native


def _set_mode(image, mode):
    # Pillow 10.1 made Image.mode a read-only property over _mode.
    if isinstance(getattr(type(image), "mode", None), property):
        image._mode = mode
    else:
        image.mode = mode


def _same_file(path, file, head):
    """Whether path names the very file that file reads and whose first bytes are head."""
    try:
        on_disk = os.stat(path)
        if not stat.S_ISREG(on_disk.st_mode):
            return False
        opened = os.fstat(file.fileno())
        if (opened.st_dev, opened.st_ino) != (on_disk.st_dev, on_disk.st_ino):
            return False
        # A file object may read a file's bytes transformed (a decompressor with the
        # compressed file's descriptor): the bytes must be the file's own.
        with open(path, "rb") as again:
            return again.read(len(head)) == head
    except (AttributeError, OSError, ValueError):
        return False


class PlaneImageFile(ImageFile.ImageFile):
    """A picture of one of the two formats (the subclasses below name which)."""

    def _open(self):
        head = self.fp.read(_native.RECOGNITION_BLOCK)
        self._label = self._name_of_file()
        verdict = _native.examine(self.format, head)
        if verdict is not None:
            signed, reason = verdict
            if not signed:
                raise SyntaxError(f"not a {self.format_description}")
            raise _named(self._label, reason)
        self._head = head
        self._path = self._path_to_read_again(head)
        try:
            header = _native.read_info(self.format, head, self._path)
        except PictureError as error:
            raise _named(self._label, error) from None
        _set_mode(self, "P")
        self._size = header["size"]
        self._describe(header)
        # Pillow's sign of pixels still to come; load() is this plug-in's own.
        self.tile = [("planeplugins", (0, 0) + self.size, 0, None)]

    def _name_of_file(self):
        name = self.filename or getattr(self.fp, "name", None)
        return os.fsdecode(name) if isinstance(name, (str, bytes, os.PathLike)) else ""

    def _path_to_read_again(self, head):
        """The path the plug-in can read the picture from by name (finding its companions)."""
        if self.filename:  # Image.open(path) opened this very path
            path = os.fsdecode(self.filename)
            return os.path.abspath(path) if os.path.isfile(path) else None
        name = getattr(self.fp, "name", None)
        if isinstance(name, (str, bytes, os.PathLike)) and _same_file(name, self.fp, head):
            return os.path.abspath(os.fsdecode(name))
        return None

    def _describe(self, picture):
        self.info["colors"] = picture["colors"]
        self.info["companions"] = picture["companions"]
        if picture["comment"]:
            self.info["comment"] = picture["comment"]

    def _decode(self):
        """The whole picture, through the plug-in."""
        data = self._head
        if self.fp is not None:
            self.fp.seek(len(self._head))
            data += self.fp.read(max(0, _largest(self.format) - len(self._head)))
        elif self._path is None:
            raise PictureError(f"{self._label or 'the picture'}: its file is closed")
        try:
            return _native.decode(self.format, data, self._path)
        except PictureError as error:
            raise _named(self._label, error) from None

    def load(self):
        if self.tile:
            picture = self._decode()
            self.load_prepare()
            self.frombytes(picture["indices"])
            self.palette = ImagePalette.raw("RGB", picture["palette"])
            self._describe(picture)
            self.tile = []
            self.readonly = 0
            self._head = b""
            if self._exclusive_fp and self._close_exclusive_fp_after_loading:
                self.fp.close()
                self.fp = None
        return Image.Image.load(self)

    def verify(self):
        if self.tile:
            self._decode()
        super().verify()


class GraImageFile(PlaneImageFile):
    format = "GRA"
    format_description = _BY_ID["GRA"]["title"]


class QImageFile(PlaneImageFile):
    format = "Q"
    format_description = _BY_ID["Q"]["title"]


def _register():
    # Pillow's most common formats first, so that their own checks decide before ours.
    Image.preinit()
    for plugin in (GraImageFile, QImageFile):
        facts = _BY_ID[plugin.format]
        Image.register_open(plugin.format, plugin, functools.partial(_native.may_be, plugin.format))
        Image.register_extensions(plugin.format, list(facts["extensions"]))
        Image.register_mime(plugin.format, facts["mime_type"])


_register()
