"""Predictions: link and response scales, Wald intervals, contrasts and the lpmatrix."""

import numpy as np
import pytest
from krelm import fit
from simulated import simulate

Z95 = 1.959963986120195


@pytest.fixture(scope="module")
def fits():
    models = {}
    for family in ["gaussian", "poisson", "bernoulli"]:
        x, y = simulate(family, 300)
        models[family] = (fit(family, x, y, k=8), x)
    return models


@pytest.mark.parametrize(
    "family, inverse_link",
    [
        ("gaussian", lambda eta: eta),
        ("poisson", np.exp),
        ("bernoulli", lambda eta: 1.0 / (1.0 + np.exp(-eta))),
    ],
)
def test_intervals_on_both_scales(fits, family, inverse_link):
    model, x = fits[family]
    eta = model.predict(x)
    mean, lo, hi = model.predict_ci(x, scale="link")
    np.testing.assert_array_equal(mean, eta)
    np.testing.assert_allclose(hi - mean, mean - lo, rtol=1e-12, atol=1e-12)
    lpmatrix = model.evaluate_lpmatrix(x)
    se = np.sqrt(np.einsum("ij,jk,ik->i", lpmatrix, model.vcov(), lpmatrix))
    np.testing.assert_allclose(hi - mean, Z95 * se, rtol=1e-10)
    response = model.predict_ci(x)
    for got, link_value in zip(response, (mean, lo, hi)):
        np.testing.assert_allclose(got, inverse_link(link_value), rtol=1e-14)
    np.testing.assert_allclose(model.predict_response(x), inverse_link(eta), rtol=1e-14)
    assert np.all(response[1] <= response[0]) and np.all(response[0] <= response[2])


def test_level_changes_only_the_width(fits):
    model, x = fits["gaussian"]
    _, lo95, hi95 = model.predict_ci(x, level=0.95, scale="link")
    _, lo99, hi99 = model.predict_ci(x, level=0.99, scale="link")
    assert np.all(hi99 - lo99 > hi95 - lo95)


def test_logit_predictions_saturate_without_overflow():
    x, y = simulate("bernoulli", 200)
    model = fit("bernoulli", x, y, k=5)
    # The linear continuation outside the knots reaches |η| ≥ 800 far from the data.
    far = np.array([[-1e4], [1e4]])
    eta = model.predict(far)
    assert abs(eta[0]) > 800 and abs(eta[1]) > 800
    with np.errstate(over="raise"):
        mu = model.predict_response(far)
    assert set(mu) == {0.0, 1.0}


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"scale": "Response"}, "scale must be 'link' or 'response', got Response"),
        ({"scale": "Response", "level": 1.0}, "scale must be 'link' or 'response', got Response"),
        ({"scale": "link", "level": 1.0}, "level must be in (0, 1); got level=1"),
        ({"level": 0.0}, "level must be in (0, 1); got level=0"),
        ({"level": float("nan")}, "level must be in (0, 1); got level=NaN"),
        ({"level": 0.9999999999999999}, "level must be in (0, 1); got level=0.9999999999999999"),
    ],
)
def test_interval_argument_messages(fits, kwargs, message):
    model, x = fits["gaussian"]
    with pytest.raises(ValueError) as raised:
        model.predict_ci(x, **kwargs)
    assert str(raised.value) == message


def test_interval_argument_types(fits):
    model, x = fits["gaussian"]
    with pytest.raises(TypeError, match="^argument 'level': "):
        model.predict_ci(x, level=None)
    with pytest.raises(TypeError, match="^argument 'x_new': "):
        model.predict(x.ravel())
    with pytest.raises(ValueError, match=r"^x must have at least one column; got shape \(3, 0\)$"):
        model.predict(np.ones((3, 0)))


def test_predict_diff_broadcasts_and_contrasts(fits):
    model, x = fits["poisson"]
    single = x[:1]
    five = x[10:15]
    diff, lo, hi = model.predict_diff(single, five)
    assert diff.shape == lo.shape == hi.shape == (5,)
    np.testing.assert_allclose(diff, model.predict(single)[0] - model.predict(five), atol=1e-12)
    assert np.all(lo <= diff) and np.all(diff <= hi)
    zero = model.predict_diff(x, x)
    for part in zero:
        np.testing.assert_array_equal(part, np.zeros(len(x)))
    with pytest.raises(ValueError) as raised:
        model.predict_diff(x[:2], x[:3])
    assert str(raised.value) == (
        "predict_diff: row counts must match or one must be 1 (broadcast); got a=2, b=3"
    )
    empty = model.predict_diff(x[:1], x[:0])
    assert all(part.shape == (0,) for part in empty)


def test_lpmatrix_rebuilds_training_design_and_extrapolates_linearly(fits):
    model, x = fits["gaussian"]
    lpmatrix = model.evaluate_lpmatrix(x)
    assert lpmatrix.shape == (len(x), len(model.beta))
    np.testing.assert_array_equal(lpmatrix[:, 0], 1.0)
    np.testing.assert_allclose(lpmatrix[:, 1:].sum(axis=0), 0.0, atol=1e-9)
    outside = model.predict(np.array([[-1.0], [-0.5], [0.0 - 1e-9 * 0]]))
    line = model.predict(np.array([[-2.0], [-1.5], [-1.0]]))
    assert line[2] - line[1] == pytest.approx(line[1] - line[0], rel=1e-9)
    assert outside[1] - outside[0] == pytest.approx(line[2] - line[1], rel=1e-9)
    wide = np.hstack([x, np.full((len(x), 2), 7.0)])
    np.testing.assert_array_equal(model.evaluate_lpmatrix(wide), lpmatrix)


def test_unestimable_gaussian_scale_is_nan_and_leaves_vcov_unscaled():
    # Two rows against a null space of dimension two: n − M_p = 0.
    x = np.array([[0.0], [1.0]])
    model = fit("gaussian", x, np.array([0.0, 1.0]), k=3)
    assert np.isnan(model.scale)
    assert np.all(np.isfinite(model.vcov()))
    mean, lo, hi = model.predict_ci(x, scale="link")
    assert np.all(np.isfinite(mean)) and np.all(lo <= hi)
