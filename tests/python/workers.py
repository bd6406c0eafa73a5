# SPDX-License-Identifier: MIT
"""What each worker process of test_processes runs. A worker started with "spawn" is a fresh
interpreter: importing planeplugins here is what gives it both formats."""

import planeplugins  # noqa: F401  (registers the formats with Pillow)
from PIL import Image


def convert(picture, png):
    with Image.open(picture) as image:
        image.save(png)
    return png
