"""Quantile regression with the "elf"/"quantile" family: calibration, the tuning of σ and
λ_E, the record it returns, and the input it refuses."""

import math

import numpy as np
import pytest
from krelm import fit
from scipy.stats import norm
from simulated import simulate

LN_FOUR = 1.3862943611198906
# σ from the mean squared residual floor 1e-6 at τ = 0.5: 0.05·√(2π·1e-6)/ln 4.
FLOOR_SIGMA = 0.05 * math.sqrt(2.0 * math.pi * 1e-6) / LN_FOUR


@pytest.fixture(scope="module")
def heteroscedastic():
    """n = 5000 around a smooth mean with a spread that grows smoothly from 0.2 to 0.6."""
    generator = np.random.default_rng(2024)
    n = 5000
    x = np.sort(generator.uniform(0.0, 1.0, n)).reshape(-1, 1)
    mean = np.sin(2.0 * np.pi * x[:, 0])
    spread = 0.2 + 0.4 * x[:, 0]
    y = mean + spread * generator.normal(size=n)
    return x, y, mean, spread


def calibration(data, tau, **tuning):
    x, y, mean, spread = data
    model = fit("quantile", x, y, tau=tau, **tuning)
    fitted = model.predict(x)
    truth = mean + spread * norm.ppf(tau)
    share_below = float(np.mean(y < fitted))
    rmse = float(np.sqrt(np.mean((fitted - truth) ** 2)))
    return model, share_below, rmse


@pytest.mark.parametrize("tau", [0.1, 0.5, 0.9])
def test_small_sigma_fit_is_calibrated(heteroscedastic, tau):
    # Measured on this seed: shares 0.0998, 0.5008, 0.9004; RMSE 0.035, 0.026, 0.034.
    model, share_below, rmse = calibration(heteroscedastic, tau, elf_sigma=0.01)
    assert model.converged
    assert abs(share_below - tau) < 0.02
    assert rmse < 0.05


# The automatic λ_E equals σ, which grows by 1/(4τ(1 − τ)) in the tails: the smoothed loss
# then targets the τ-quantile of y plus logistic noise of scale λ_E, a quantile further out
# in the tail. Measured on this seed: shares 0.0754, 0.5016, 0.9266; RMSE 0.055, 0.026,
# 0.064 (σ = 0.103 in the tails, 0.037 at the median).
@pytest.mark.parametrize(
    "tau, tolerance, rmse_bound",
    [
        pytest.param(0.1, 0.035, 0.08, id="0.1"),
        pytest.param(0.5, 0.02, 0.04, id="0.5"),
        pytest.param(0.9, 0.035, 0.08, id="0.9"),
    ],
)
def test_auto_tuned_fit_is_calibrated_up_to_its_smoothing_bias(
    heteroscedastic, tau, tolerance, rmse_bound
):
    model, share_below, rmse = calibration(heteroscedastic, tau)
    assert model.converged
    assert abs(share_below - tau) < tolerance
    assert rmse < rmse_bound
    if tau != 0.5:
        assert (share_below - tau) * (tau - 0.5) > 0.0  # the bias points into the tail


def test_fit_returns_a_complete_identity_link_record():
    x, y = simulate("gaussian", 300)
    model = fit("elf", x, y, tau=0.3)
    p = 10
    assert model.converged
    assert model.n == 300
    assert model.beta.shape == (p,) and np.all(np.isfinite(model.beta))
    assert model.rho.shape == getattr(model, "lambda").shape == model.edf_per_term.shape == (1,)
    np.testing.assert_array_equal(getattr(model, "lambda"), np.exp(model.rho))
    assert 1.0 < model.edf_total <= p
    assert model.shape_params.shape == (0,)
    assert model.vcov().shape == (p, p)
    assert np.isfinite(model.reml_value)
    x_new = np.linspace(0.05, 0.95, 7).reshape(-1, 1)
    np.testing.assert_array_equal(model.predict_response(x_new), model.predict(x_new))


def test_elf_and_quantile_are_the_same_family():
    x, y = simulate("gaussian", 200)
    a = fit("elf", x, y, tau=0.25)
    b = fit("quantile", x, y, tau=0.25)
    np.testing.assert_array_equal(a.beta, b.beta)
    assert a.scale == b.scale and a.reml_value == b.reml_value


def test_scale_is_the_tuned_or_given_sigma():
    x, y = simulate("gaussian", 300)
    median = fit("elf", x, y)
    low = fit("elf", x, y, tau=0.1)
    high = fit("elf", x, y, tau=0.9)
    # The mean squared residual does not depend on τ; only the tail factor 1/(4τ(1 − τ)) does.
    assert low.scale == pytest.approx(median.scale / (4.0 * 0.1 * 0.9), rel=1e-14)
    assert high.scale == pytest.approx(low.scale, rel=1e-14)
    assert fit("elf", x, y, elf_sigma=0.05).scale == 0.05
    assert fit("elf", x, y, elf_sigma=0.05, elf_lambda=0.01).scale == 0.05


@pytest.mark.parametrize(
    "tuning",
    [
        pytest.param({"elf_sigma": -1.0}, id="negative sigma"),
        pytest.param({"elf_sigma": 0.0, "elf_lambda": -2.0}, id="negative lambda"),
        pytest.param({"elf_sigma": float("nan")}, id="NaN sigma"),
    ],
)
def test_values_that_are_not_positive_are_chosen_automatically(tuning):
    x, y = simulate("gaussian", 200)
    automatic = fit("elf", x, y)
    model = fit("elf", x, y, **tuning)
    assert model.scale == automatic.scale
    np.testing.assert_array_equal(model.beta, automatic.beta)


def test_perfect_least_squares_fit_tunes_sigma_from_the_floor():
    x, _ = simulate("gaussian", 200)
    model = fit("elf", x, np.full(200, 2.5))
    assert model.scale == pytest.approx(FLOOR_SIGMA, rel=1e-12)
    np.testing.assert_allclose(model.predict(x), 2.5, atol=1e-6)


def test_prior_weights_are_checked_but_do_not_enter_the_fit():
    x, y = simulate("gaussian", 200)
    weighted = fit("elf", x, y, weights=np.linspace(0.5, 2.0, 200))
    np.testing.assert_array_equal(weighted.beta, fit("elf", x, y).beta)


def test_non_finite_score_is_never_reported_as_converged():
    x, y = simulate("gaussian", 200)
    model = fit("elf", x, y * 1e200)  # squared residuals overflow: σ = λ_E = inf
    assert not np.isfinite(model.reml_value)
    assert not model.converged


TAU_MESSAGE = "elf/quantile tau must be in (0, 1); got tau={}"


@pytest.mark.parametrize(
    "tau, shown",
    [(1.0, "1"), (0.0, "0"), (-0.5, "-0.5"), (1.5, "1.5"), (float("nan"), "NaN")],
)
def test_tau_outside_the_unit_interval_is_refused(tau, shown):
    x, y = simulate("gaussian", 40)
    with pytest.raises(ValueError) as raised:
        fit("quantile", x, y, tau=tau)
    assert str(raised.value) == TAU_MESSAGE.format(shown)


def test_tau_is_checked_before_the_design():
    x, y = simulate("gaussian", 40)
    with pytest.raises(ValueError) as raised:
        fit("elf", x, y, tau=1, design="CR", k=2)
    assert str(raised.value) == TAU_MESSAGE.format("1")


ROWS = "x and y must have the same number of rows; got x.nrows()=40, y.len()=41"
WEIGHT_LENGTH = "prior_weights length must match x rows; got weights.len()=45, x.nrows()=40"


def with_value(values, row, value):
    changed = values.copy()
    changed[row] = value
    return changed


@pytest.mark.parametrize(
    "change, message",
    [
        pytest.param(lambda y, w: (np.append(y, 1.0), np.ones(45)), ROWS, id="rows before weights"),
        pytest.param(
            lambda y, w: (with_value(y, 3, np.nan), np.ones(45)),
            WEIGHT_LENGTH,
            id="weight length before the response",
        ),
        pytest.param(
            lambda y, w: (with_value(y, 3, np.nan), with_value(w, 1, -1.0)),
            "y must be finite; got y=NaN at row 3",
            id="NaN response before the weights",
        ),
        pytest.param(
            lambda y, w: (with_value(y, 9, np.inf), None),
            "y must be finite; got y=inf at row 9",
            id="infinite response",
        ),
        pytest.param(
            lambda y, w: (y, with_value(w, 2, -1.0)),
            "weights must be finite and non-negative; got weight=-1 at row 2",
            id="negative weight",
        ),
        pytest.param(
            lambda y, w: (y, with_value(w, 6, np.inf)),
            "weights must be finite and non-negative; got weight=inf at row 6",
            id="infinite weight",
        ),
    ],
)
def test_data_checks_in_order(change, message):
    x, y = simulate("gaussian", 40)
    y, weights = change(y, np.ones(40))
    with pytest.raises(ValueError) as raised:
        fit("elf", x, y, weights=weights)
    assert str(raised.value) == message
