# SPDX-License-Identifier: MIT
"""10,000 opens and decodes leave no file descriptor and no memory behind: counted in
/proc/self/fd and the resident set (/proc/self/statm) after a warm-up and at the end."""

import io
import os
import sys

import planeplugins  # noqa: F401
from PIL import Image

OPENS = 10_000
WARM_UP = 1_000


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_ten_thousand_opens_leave_nothing(cases, capsys):
    pictures = [(case.picture, case.picture.read_bytes()) for case in cases]

    def one(n):
        # Every way in, in turn; every tenth is decoded, every seventh verified, and the
        # failures that a damaged file brings come too.
        path, data = pictures[n % len(pictures)]
        way = n % 4
        if way == 3:
            try:
                Image.open(io.BytesIO(data[: len(data) // 2])).load()
            except OSError:
                pass
            return
        with open(path, "rb") as file:
            source = (path, file, io.BytesIO(data))[way]
            with Image.open(source) as image:
                if n % 7 == 0:
                    image.verify()
                elif n % 10 == 0:
                    image.load()

    for n in range(WARM_UP):
        one(n)
    descriptors, resident = open_descriptors(), resident_bytes()
    for n in range(WARM_UP, OPENS):
        one(n)
    grown = resident_bytes() - resident
    with capsys.disabled():
        print(f"\nafter {OPENS} opens: {open_descriptors()} descriptors open ({descriptors} "
              f"after {WARM_UP}), resident set grown by {grown / 1024:.0f} KiB to "
              f"{resident_bytes() / 1048576:.1f} MiB", file=sys.stderr)
    assert open_descriptors() == descriptors
    assert grown < 2 * 1024 * 1024
