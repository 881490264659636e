"""Fitting: every exponential family fits simulated data and reports a complete result."""

import math

import numpy as np
import pytest
from krelm import fit
from simulated import simulate, smooth_truth

FAMILIES = [
    "gaussian",
    "bernoulli",
    "binomial",
    "poisson",
    "quasipoisson",
    "quasibinomial",
    "gamma",
    "inverse_gaussian",
    "inverse.gaussian",
]
FIXED_SCALE = {"bernoulli", "binomial", "poisson"}


@pytest.mark.parametrize("n", [200, 5000])
@pytest.mark.parametrize("family", FAMILIES)
def test_family_fits_simulated_data(family, n):
    x, y = simulate(family, n)
    model = fit(family, x, y)
    p = 10
    assert model.converged
    assert model.n == n
    assert np.all(np.isfinite(model.beta)) and model.beta.shape == (p,)
    assert model.rho.shape == getattr(model, "lambda").shape == model.edf_per_term.shape == (1,)
    # exp of the system math library (NumPy's own exp may differ in the last bit)
    assert list(getattr(model, "lambda")) == [math.exp(r) for r in model.rho]
    assert model.edf_per_term[0] == pytest.approx(model.edf_total - 1.0, rel=1e-9, abs=1e-9)
    assert 1.0 < model.edf_total <= p
    assert model.vcov().shape == (p, p)
    assert model.shape_params.shape == (0,)
    assert model.term_col_ranges() == [(1, p)]
    if family in FIXED_SCALE:
        assert model.scale == 1.0
        np.testing.assert_array_equal(model.vcov(), model.vcov())
    else:
        assert np.isfinite(model.scale) and model.scale > 0.0


def test_gaussian_fit_recovers_the_truth():
    x, y = simulate("gaussian", 2000)
    model = fit("gaussian", x, y)
    fitted = model.predict(x)
    assert np.sqrt(np.mean((fitted - smooth_truth(x[:, 0])) ** 2)) < 0.05
    assert model.scale == pytest.approx(0.09, rel=0.1)


def test_only_column_zero_is_used():
    x, y = simulate("poisson", 300)
    wide = np.hstack([x, np.random.default_rng(1).normal(size=(300, 2))])
    narrow_fit = fit("poisson", x, y)
    wide_fit = fit("poisson", wide, y)
    np.testing.assert_array_equal(wide_fit.beta, narrow_fit.beta)


def test_aliases_give_identical_fits():
    x, y = simulate("bernoulli", 300)
    np.testing.assert_array_equal(fit("binomial", x, y).beta, fit("bernoulli", x, y).beta)
    x, y = simulate("inverse_gaussian", 300)
    np.testing.assert_array_equal(
        fit("inverse.gaussian", x, y).beta, fit("inverse_gaussian", x, y).beta
    )


def test_unit_prior_weights_change_nothing():
    x, y = simulate("gamma", 300)
    np.testing.assert_array_equal(
        fit("gamma", x, y, weights=np.ones(300)).beta, fit("gamma", x, y).beta
    )


def test_strided_inputs_are_read_without_copy_semantics_changing_results():
    x, y = simulate("poisson", 400)
    padded = np.zeros((400, 3))
    padded[:, 1] = x[:, 0]
    strided_x = padded[:, 1:2]
    strided_y = np.repeat(y, 2)[::2]
    np.testing.assert_array_equal(
        fit("poisson", strided_x, strided_y).beta, fit("poisson", x, y).beta
    )
    reversed_fit = fit("poisson", x[::-1], y[::-1])
    np.testing.assert_allclose(reversed_fit.predict(x), fit("poisson", x, y).predict(x), rtol=1e-8)
