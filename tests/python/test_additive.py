"""fit_additive: term parsing, refused families, assembly and recovery of additive truths."""

import numpy as np
import pytest
from krelm import fit, fit_additive


@pytest.fixture(scope="module")
def additive_data():
    rng = np.random.default_rng(42)
    n = 2000
    x = rng.uniform(size=(n, 4))
    x[:, 1] = rng.integers(0, 8, n)
    truths = [
        np.sin(2 * np.pi * x[:, 0]),
        np.linspace(-1, 1, 8)[x[:, 1].astype(int)],
        2.0 * np.cos(3.0 * x[:, 2]) * x[:, 3],
    ]
    return x, truths, rng


TERMS = [(0, "cr", 10), (1, "re"), ((2, 3), "te", (5, 5))]


@pytest.mark.parametrize("family", ["gaussian", "poisson"])
def test_three_term_fit_recovers_each_term(additive_data, family):
    x, truths, rng = additive_data
    eta = sum(truths)
    if family == "gaussian":
        y = eta + rng.normal(0.0, 0.3, len(eta))
    else:
        y = rng.poisson(np.exp(0.5 * eta + 1.0)).astype(float)
    model = fit_additive(family, x, y, TERMS)
    assert model.converged
    ranges = model.term_col_ranges()
    assert ranges == [(1, 10), (10, 18), (18, 42)]
    assert model.rho.shape == (4,)
    lpmatrix = model.evaluate_lpmatrix(x)
    for (first, last), truth in zip(ranges, truths):
        partial = lpmatrix[:, first:last] @ model.beta[first:last]
        assert np.corrcoef(partial, truth)[0, 1] > 0.95


@pytest.mark.parametrize("family", ["gaussian", "poisson"])
def test_tensor_fit_of_a_smooth_surface(family):
    rng = np.random.default_rng(3)
    x = rng.uniform(size=(1500, 2))
    truth = np.sin(3.0 * x[:, 0]) * np.cos(2.0 * x[:, 1])
    y = (
        truth + rng.normal(0.0, 0.2, 1500)
        if family == "gaussian"
        else rng.poisson(np.exp(truth + 1.0)).astype(float)
    )
    model = fit_additive(family, x, y, [((0, 1), "te", (6, 6))])
    assert model.converged
    assert np.corrcoef(model.predict(x), truth)[0, 1] > 0.95


def test_single_term_matches_fit():
    rng = np.random.default_rng(5)
    x = rng.uniform(size=(300, 1))
    y = np.sin(5 * x[:, 0]) + rng.normal(0, 0.2, 300)
    additive = fit_additive("gaussian", x, y, [(0, "cr", 7)])
    single = fit("gaussian", x, y, k=7)
    np.testing.assert_array_equal(additive.evaluate_lpmatrix(x), single.evaluate_lpmatrix(x))
    assert additive.term_col_ranges() == [(1, 7)]
    np.testing.assert_allclose(additive.beta, single.beta, rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize(
    "terms, error, message",
    [
        ([], ValueError, "fit_additive: terms list must be non-empty"),
        (
            [(0, "cr", 5), [1, "re"]],
            ValueError,
            "fit_additive: term 1 must be a tuple; got [1, 're']",
        ),
        ([(0,)], ValueError, "fit_additive: term 0 tuple must have at least 2 elements"),
        (
            [("a", "cr")],
            ValueError,
            "fit_additive: univariate term 0 first element must be an integer column index",
        ),
        (
            [(-1, "cr")],
            ValueError,
            "fit_additive: univariate term 0 first element must be an integer column index",
        ),
        (
            [("a", "CR")],
            ValueError,
            "fit_additive: univariate term 0 first element must be an integer column index",
        ),
        (
            [(0, "CR", 5)],
            ValueError,
            "fit_additive: term 0 basis must be 'cr', 'cr_stable', 're', or 'te'; got CR",
        ),
        (
            [(0, "te")],
            ValueError,
            "fit_additive: tensor term 0 first element must be a (col_a, col_b) tuple",
        ),
        (
            [((0, 1, 2), "te")],
            ValueError,
            "fit_additive: tensor term 0 cols tuple must have exactly 2 elements",
        ),
        (
            [((0, 1), "te", 5)],
            ValueError,
            "fit_additive: tensor term 0 k must be a (k_a, k_b) tuple",
        ),
        (
            [((0, 1), "te", (5,))],
            ValueError,
            "fit_additive: tensor term 0 k tuple must have exactly 2 elements",
        ),
        ([(3, "cr", 5)], ValueError, "Additive term 0 reads column 3 but x has only 2 columns"),
        ([(0, 5)], TypeError, None),
        ([(0, "cr", 2.5)], TypeError, None),
        ([((-1, 1), "te")], OverflowError, None),
    ],
)
def test_term_errors(terms, error, message):
    x = np.random.default_rng(0).uniform(size=(50, 2))
    y = np.ones(50)
    with pytest.raises(error) as raised:
        fit_additive("gaussian", x, y, terms)
    if message is not None:
        assert str(raised.value) == message
    else:
        assert "term" not in str(raised.value)


def test_accepted_term_forms():
    rng = np.random.default_rng(1)
    x = rng.uniform(size=(200, 3))
    x[:, 2] = rng.integers(0, 4, 200)
    y = np.sin(3 * x[:, 0]) + rng.normal(0, 0.1, 200)
    model = fit_additive("gaussian", x, y, [(0, "cr"), (2, "re", object()), ((0, 1), "te")])
    assert model.term_col_ranges() == [(1, 10), (10, 14), (14, 113)]


@pytest.mark.parametrize("name", ["negbin", "elf", "Gaussian", "nope"])
def test_refused_family_names_itself_twice(name):
    x = np.random.default_rng(0).uniform(size=(20, 1))
    with pytest.raises(ValueError) as raised:
        fit_additive(name, x, np.ones(20), [(0, "cr", 5)])
    assert str(raised.value) == (
        f"fit_additive: family {name} is shape-managed and restricted to single-smooth in 94b; "
        f"use krelm.fit(family={name}, …) or wait for multi-smooth shape-aware support. "
        "Supported additive families: gaussian, bernoulli/binomial, poisson, quasipoisson, "
        "quasibinomial, gamma, inverse_gaussian"
    )


def test_term_errors_come_before_family_and_empty_checks():
    x = np.random.default_rng(0).uniform(size=(20, 1))
    with pytest.raises(ValueError, match="term 0 tuple must have at least 2"):
        fit_additive("negbin", x, np.ones(20), [(0,)])
    with pytest.raises(ValueError, match="terms list must be non-empty"):
        fit_additive("negbin", x, np.ones(20), [])
    with pytest.raises(TypeError, match="^argument 'terms': "):
        fit_additive("gaussian", x, np.ones(20), ((0, "cr"),))
