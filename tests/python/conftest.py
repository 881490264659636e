"""Shared fixtures: seeded generators and small simulated data sets."""

import numpy as np
import pytest
from simulated import simulate


@pytest.fixture
def rng():
    return np.random.default_rng(20261211)


@pytest.fixture
def gaussian_data():
    return simulate("gaussian", 200)
