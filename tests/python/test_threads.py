"""Fits release the interpreter lock, give the same numbers from any thread, and stop on
Ctrl-C between outer iterations."""

import _thread
import threading

import numpy as np
import pytest
from krelm import fit
from simulated import simulate


def test_threaded_fits_match_sequential_fits():
    data = [simulate("poisson", 3000, seed=s) for s in (1, 2, 3)]
    expected = [fit("poisson", x, y).beta for x, y in data]
    results = [None] * len(data)

    def work(index):
        x, y = data[index]
        results[index] = fit("poisson", x, y).beta

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(data))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)


def test_other_threads_run_during_a_fit():
    x, y = simulate("poisson", 200_000)
    ticks = []
    stop = threading.Event()

    def ticker():
        while not stop.is_set():
            ticks.append(1)
            stop.wait(0.001)

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        fit("poisson", x, y)
    finally:
        stop.set()
        thread.join()
    assert len(ticks) > 5


def test_keyboard_interrupt_stops_a_long_fit():
    x, y = simulate("poisson", 400_000)
    timer = threading.Timer(0.05, _thread.interrupt_main)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            fit("poisson", x, y)
    finally:
        timer.cancel()
    # Nothing is left behind: the module still fits.
    small_x, small_y = simulate("poisson", 200)
    assert fit("poisson", small_x, small_y).converged
