# SPDX-License-Identifier: MIT
"""A folder of pictures converted to PNG by a pool of worker processes started with "spawn",
as multiprocessing, Dask or Spark workers do, each equal to planeconv's PNG."""

import multiprocessing
from concurrent.futures import ProcessPoolExecutor

import workers
from conftest import same_picture
from PIL import Image


def test_spawned_workers_convert_a_folder(tmp_path, cases):
    outputs = [tmp_path / f"{n}-{case.picture.name}.png" for n, case in enumerate(cases)]
    spawn = multiprocessing.get_context("spawn")
    with ProcessPoolExecutor(2, mp_context=spawn) as pool:
        done = list(pool.map(workers.convert, [str(c.picture) for c in cases], map(str, outputs)))
    assert done == list(map(str, outputs))
    for case, png in zip(cases, outputs):
        with Image.open(png) as image:
            assert same_picture(image, case.with_companions), case
