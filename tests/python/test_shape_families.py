"""Shape-aware families (negative binomial, scaled t, Tweedie): the aliases, the checks of
`fit` in their order, recovery of the shape parameters on simulated data, and the scale,
shape parameters and covariance they report."""

import re

import numpy as np
import pytest
from krelm import fit

NAN = float("nan")
INF = float("inf")

# The truths the recovery tests simulate from.
NB_THETA = 3.0
T_NU, T_SIGMA = 4.0, 0.5
TW_POWER, TW_PHI = 1.4, 2.0


def smooth_truth(x):
    return np.sin(2.0 * np.pi * x) + 0.5 * x


def simulate_shape(family, n, seed):
    """Covariates (n, 1) and a response around the smooth truth: negative binomial as a
    gamma-Poisson mixture, scaled t as eta + sigma*t_nu, Tweedie as a compound
    Poisson-gamma sum. Means are exp(eta + 1) under the log link."""
    generator = np.random.default_rng(seed)
    x = np.sort(generator.uniform(0.0, 1.0, n))
    eta = smooth_truth(x)
    mean = np.exp(eta + 1.0)
    if family == "negbin":
        y = generator.poisson(generator.gamma(NB_THETA, mean / NB_THETA)).astype(float)
    elif family == "tdist":
        y = eta + T_SIGMA * generator.standard_t(T_NU, n)
    else:
        p, phi = TW_POWER, TW_PHI
        events = generator.poisson(mean ** (2.0 - p) / (phi * (2.0 - p)))
        shape = (2.0 - p) / (p - 1.0)
        size = phi * (p - 1.0) * mean ** (p - 1.0)
        # A sum of k gamma(shape, size) draws is gamma(k*shape, size); gamma(0, .) is 0.
        y = np.where(events > 0, generator.gamma(np.maximum(events, 1) * shape, size), 0.0)
    return x.reshape(-1, 1), y


def tweedie_power(logit):
    return min(1.95, max(1.05, 1.0 + 1.0 / (1.0 + np.exp(-logit))))


@pytest.fixture(scope="module")
def recovered():
    """One fit per family on 2,000 simulated rows."""
    return {
        family: (fit(family, *simulate_shape(family, 2000, seed)), seed)
        for family, seed in [("negbin", 11), ("tdist", 12), ("tweedie", 13)]
    }


@pytest.fixture
def small():
    return simulate_shape("negbin", 60, 3)


def exact(message):
    return "^" + re.escape(message) + "$"


@pytest.mark.parametrize(
    ("alias", "name"), [("nb", "negbin"), ("scat", "tdist"), ("tw", "tweedie")]
)
def test_aliases_give_identical_fits(alias, name):
    x, y = simulate_shape(name, 300, 5)
    a, b = fit(alias, x, y), fit(name, x, y)
    np.testing.assert_array_equal(a.beta, b.beta)
    np.testing.assert_array_equal(a.shape_params, b.shape_params)
    assert a.reml_value == b.reml_value


@pytest.mark.parametrize(
    ("family", "kwargs", "message"),
    [
        pytest.param("negbin", {"theta": 0}, "negbin theta must be > 0; got theta=0", id="theta 0"),
        pytest.param(
            "nb", {"theta": -1.5}, "negbin theta must be > 0; got theta=-1.5", id="theta negative"
        ),
        pytest.param(
            "tweedie", {"tweedie_p": 2}, "tweedie p must be in (1, 2); got tweedie_p=2", id="p 2"
        ),
        pytest.param(
            "tw", {"tweedie_p": 1.0}, "tweedie p must be in (1, 2); got tweedie_p=1", id="p 1"
        ),
        pytest.param(
            "tweedie",
            {"tweedie_p": NAN},
            "tweedie p must be in (1, 2); got tweedie_p=NaN",
            id="p NaN",
        ),
    ],
)
def test_shape_arguments_are_checked_before_the_design(small, family, kwargs, message):
    x, y = small
    # The design name is invalid too, and y has a wrong length: neither is reached.
    with pytest.raises(ValueError, match=exact(message)):
        fit(family, x, y[:-1], design="CR", **kwargs)


@pytest.mark.parametrize(
    ("family", "kwargs"),
    [
        ("negbin", {"theta": NAN}),
        ("tdist", {"nu": 1.0, "sigma2": -1.0}),
        ("tweedie", {"tweedie_phi": 0.0}),
    ],
)
def test_other_starting_values_wait_for_the_design(small, family, kwargs):
    x, y = small
    message = "design must be 'cr', 're', or 'cr_stable'; got CR"
    with pytest.raises(ValueError, match=exact(message)):
        fit(family, x, y, design="CR", **kwargs)


def with_value(y, row, value):
    changed = y.copy()
    changed[row] = value
    return changed


INIT_PHI = "Tweedie dispersion init_phi must be a positive finite scalar; got init_phi="
INIT_THETA = (
    "NegBin overdispersion init_theta must be a positive finite scalar (small θ → "
    "high variance, large θ → Poisson limit); got init_theta="
)


@pytest.mark.parametrize(
    ("family", "change", "kwargs", "message"),
    [
        pytest.param(
            "negbin",
            "long y",
            {"weights": np.ones(4), "theta": NAN},
            "x and y must have the same number of rows; got x.nrows()=60, y.len()=61",
            id="rows first",
        ),
        pytest.param(
            "negbin",
            "y[4] = -1",
            {"weights": np.ones(4), "theta": NAN},
            "prior_weights length must match x rows; got weights.len()=4, x.nrows()=60",
            id="weights before theta",
        ),
        pytest.param("negbin", None, {"theta": NAN}, INIT_THETA + "NaN", id="theta NaN"),
        pytest.param(
            "nb", "y[4] = -1", {"theta": INF}, INIT_THETA + "inf", id="theta before response"
        ),
        pytest.param(
            "negbin",
            "y[4] = -1",
            {},
            "NegBin requires y ≥ 0; got y=-1 at row 4",
            id="negbin response",
        ),
        pytest.param(
            "tweedie", "y[4] = -1", {"tweedie_phi": 0.0}, INIT_PHI + "0", id="phi before response"
        ),
        pytest.param("tweedie", None, {"tweedie_phi": INF}, INIT_PHI + "inf", id="phi infinite"),
        pytest.param(
            "tw",
            "y[4] = -1",
            {},
            "Tweedie requires y ≥ 0; got y=-1 at row 4",
            id="tweedie response",
        ),
        pytest.param(
            "tdist",
            None,
            {"nu": 2.0, "sigma2": 0.0},
            "scat/TDist degrees-of-freedom init_nu must be > 2 (finite variance); got init_nu=2",
            id="nu bound is strict, before sigma2",
        ),
        pytest.param(
            "scat",
            None,
            {"nu": NAN},
            "scat/TDist degrees-of-freedom init_nu must be > 2 (finite variance); got init_nu=NaN",
            id="nu NaN",
        ),
        pytest.param(
            "tdist",
            None,
            {"sigma2": 0.0},
            "scat/TDist scale init_sigma2 must be a positive finite scalar; got init_sigma2=0",
            id="sigma2",
        ),
        pytest.param(
            "negbin",
            "y[2] = NaN",
            {},
            "y must be finite; got y=NaN at row 2",
            id="NaN passes the domain, not the finite check",
        ),
        pytest.param(
            "tdist",
            "y[2] = inf",
            {},
            "y must be finite; got y=inf at row 2",
            id="infinite t response",
        ),
        pytest.param(
            "tweedie",
            None,
            {"weights": np.r_[1.0, 1.0, 1.0, -1.0, np.ones(56)]},
            "weights must be finite and non-negative; got weight=-1 at row 3",
            id="negative weight",
        ),
        pytest.param(
            "negbin",
            None,
            {"weights": np.r_[np.ones(7), NAN, np.ones(52)]},
            "weights must be finite and non-negative; got weight=NaN at row 7",
            id="NaN weight",
        ),
    ],
)
def test_data_checks_report_the_first_failure_in_order(small, family, change, kwargs, message):
    x, y = small
    changes = {
        None: y,
        "long y": np.r_[y, 1.0],
        "y[4] = -1": with_value(y, 4, -1.0),
        "y[2] = NaN": with_value(y, 2, NAN),
        "y[2] = inf": with_value(y, 2, INF),
    }
    with pytest.raises(ValueError, match=exact(message)):
        fit(family, x, changes[change], **kwargs)


def test_scaled_t_takes_any_real_response_and_nu_just_above_two(small):
    x, y = small
    model = fit("tdist", x, with_value(y, 4, -1.0) - 3.0, nu=2.5)
    assert np.all(np.isfinite(model.beta))
    assert model.shape_params.shape == (2,)


def test_negative_binomial_recovers_theta(recovered):
    model, _ = recovered["negbin"]
    theta = np.exp(model.shape_params[0])
    assert model.converged
    assert theta == pytest.approx(NB_THETA, rel=0.25)


def test_scaled_t_recovers_sigma2_and_nu(recovered):
    model, _ = recovered["tdist"]
    sigma2 = np.exp(model.shape_params[0])
    nu = 2.0 + np.exp(model.shape_params[1])
    assert model.converged
    assert sigma2 == pytest.approx(T_SIGMA**2, rel=0.25)
    assert T_NU / 2.0 <= nu <= 2.0 * T_NU


def test_tweedie_recovers_power_and_dispersion(recovered):
    model, _ = recovered["tweedie"]
    phi = max(np.exp(model.shape_params[0]), 1e-6)
    assert model.converged
    assert abs(tweedie_power(model.shape_params[1]) - TW_POWER) < 0.1
    assert phi == pytest.approx(TW_PHI, rel=0.25)


def working_weights(family, model, mu):
    """W of the final fit: 1/(V g'^2) under each family's link and variance."""
    if family == "negbin":
        return mu / (1.0 + mu / np.exp(model.shape_params[0]))
    if family == "tdist":
        return np.full_like(mu, 1.0 / np.exp(model.shape_params[0]))
    return mu ** (2.0 - tweedie_power(model.shape_params[1]))


@pytest.mark.parametrize("family", ["negbin", "tdist", "tweedie"])
def test_scale_shape_params_and_covariance_follow_the_family(recovered, family):
    model, seed = recovered[family]
    x, _ = simulate_shape(family, 2000, seed)
    expected_scale = {
        "negbin": np.exp(model.shape_params[0]),  # theta itself
        "tdist": np.exp(model.shape_params[0]),  # sigma^2
        "tweedie": max(np.exp(model.shape_params[0]), 1e-6),  # phi
    }[family]
    assert model.shape_params.shape == ((1,) if family == "negbin" else (2,))
    assert model.scale == expected_scale
    np.testing.assert_array_equal(getattr(model, "lambda"), np.exp(model.rho))
    # vcov = scale * A^-1 with A = X'WX + S_lambda, and edf = tr(A^-1 X'WX).
    lp = model.evaluate_lpmatrix(x)
    mu = model.predict_response(x)
    gram = lp.T @ (working_weights(family, model, mu)[:, None] * lp)
    assert np.trace(model.vcov() / model.scale @ gram) == pytest.approx(model.edf_total, rel=1e-6)
    eta = model.predict(x)
    expected_mu = eta if family == "tdist" else np.exp(eta)
    np.testing.assert_allclose(mu, expected_mu, rtol=1e-12)
