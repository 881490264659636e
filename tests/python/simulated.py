"""Simulated data around smooth truths, for the tests."""

import numpy as np


def smooth_truth(x):
    return np.sin(2.0 * np.pi * x) + 0.5 * x


def simulate(family: str, n: int, seed: int = 7):
    """Covariate matrix (n, 1) and a response of `family` around a smooth truth."""
    generator = np.random.default_rng(seed)
    x = np.sort(generator.uniform(0.0, 1.0, n)).reshape(-1, 1)
    eta = smooth_truth(x[:, 0])
    if family == "gaussian":
        y = eta + generator.normal(0.0, 0.3, n)
    elif family in ("poisson", "quasipoisson"):
        y = generator.poisson(np.exp(eta + 1.0)).astype(float)
    elif family in ("bernoulli", "binomial", "quasibinomial"):
        y = (generator.uniform(size=n) < 1.0 / (1.0 + np.exp(-2.0 * eta))).astype(float)
    elif family == "gamma":
        mean = np.exp(eta + 1.0)
        y = generator.gamma(4.0, mean / 4.0)
    elif family in ("inverse_gaussian", "inverse.gaussian"):
        mean = np.exp(0.5 * eta)
        y = generator.wald(mean, 8.0)
    else:
        raise ValueError(family)
    return x, y
