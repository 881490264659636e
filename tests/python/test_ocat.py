"""The ordered categorical family: the `r` argument, the driver's checks in their order,
agreement with an unpenalised ordered-logit fit on a linear truth, recovery of a
nonlinear latent curve, and what the fit reports."""

import re

import numpy as np
import pytest
from krelm import fit
from statsmodels.miscmodels.ordinal_model import OrderedModel

NAN = float("nan")


def simulate_ocat(latent_mean, cuts, n, seed):
    """Categories 1..len(cuts)+1 of a latent logistic variable with the given mean curve."""
    generator = np.random.default_rng(seed)
    x = np.sort(generator.uniform(0.0, 1.0, n))
    latent = latent_mean(x) + generator.logistic(size=n)
    y = 1.0 + (latent[:, None] > np.asarray(cuts)).sum(axis=1)
    return x.reshape(-1, 1), y


def exact(message):
    return "^" + re.escape(message) + "$"


@pytest.fixture
def small():
    return simulate_ocat(lambda x: 2.0 * x, [0.3, 1.2], 60, 4)


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        pytest.param(
            {}, "family='ocat' requires r=K (number of ordered categories, K >= 3)", id="absent"
        ),
        pytest.param(
            {"r": None},
            "family='ocat' requires r=K (number of ordered categories, K >= 3)",
            id="None",
        ),
        pytest.param({"r": 2}, "ocat requires r >= 3, got r=2", id="two"),
        pytest.param({"r": 0}, "ocat requires r >= 3, got r=0", id="zero"),
    ],
)
def test_r_is_required_and_checked_before_the_design(small, kwargs, message):
    x, y = small
    with pytest.raises(ValueError, match=exact(message)):
        fit("ocat", x, y[:-1], design="CR", **kwargs)


def test_negative_r_fails_in_argument_conversion(small):
    x, y = small
    with pytest.raises(OverflowError):
        fit("ocat", x, y, r=-1)


def with_value(y, row, value):
    changed = y.copy()
    changed[row] = value
    return changed


@pytest.mark.parametrize(
    ("change", "kwargs", "message"),
    [
        pytest.param(
            "y[5] = 3.6",
            {"design": "CR", "weights": np.ones(3)},
            "design must be 'cr', 're', or 'cr_stable'; got CR",
            id="design first",
        ),
        pytest.param(
            "long y",
            {"weights": np.ones(3)},
            "x and y must have the same number of rows; got x.nrows()=60, y.len()=61",
            id="rows",
        ),
        pytest.param(
            "y[5] = 3.6",
            {"weights": np.ones(3), "design": "re"},
            "prior_weights length must match x rows; got weights.len()=3, x.nrows()=60",
            id="weight length",
        ),
        pytest.param(
            "y[5] = 3.6",
            {},
            "Ocat requires y to be an integer in 1..=3; got y=3.6 at row 5",
            id="3.6 rounds to 4",
        ),
        pytest.param(
            "y[2] = 0.4",
            {"design": "cr_stable"},
            "Ocat requires y to be an integer in 1..=3; got y=0.4 at row 2",
            id="0.4 rounds to 0",
        ),
        pytest.param(
            "y[2] = NaN",
            {},
            "Ocat requires y to be an integer in 1..=3; got y=NaN at row 2",
            id="NaN",
        ),
        pytest.param(
            None,
            {"weights": np.r_[np.ones(9), -2.0, np.ones(50)]},
            "weights must be finite and non-negative; got weight=-2 at row 9",
            id="negative weight",
        ),
    ],
)
def test_driver_checks_report_the_first_failure_in_order(small, change, kwargs, message):
    x, y = small
    changes = {
        None: y,
        "long y": np.r_[y, 1.0],
        "y[5] = 3.6": with_value(y, 5, 3.6),
        "y[2] = 0.4": with_value(y, 2, 0.4),
        "y[2] = NaN": with_value(y, 2, NAN),
    }
    with pytest.raises(ValueError, match=exact(message)):
        fit("ocat", x, changes[change], r=3, **kwargs)


@pytest.mark.parametrize(
    ("x", "message"),
    [
        pytest.param(
            np.zeros((60, 0)), "x must have at least one column; got shape (60, 0)", id="no columns"
        ),
        pytest.param(
            np.r_[np.linspace(0, 1, 3), NAN, np.linspace(0, 1, 56)].reshape(-1, 1),
            "x must be finite; got x=NaN at row 3, column 0",
            id="NaN covariate",
        ),
    ],
)
def test_unusable_covariates_are_refused(small, x, message):
    _, y = small
    with pytest.raises(ValueError, match=exact(message)):
        fit("ocat", x, y, r=3)


def test_a_non_integral_response_counts_as_its_nearest_category(small):
    x, y = small
    blurred = np.where(y == 2.0, 2.4, y)
    assert np.any(blurred == 2.4)
    a, b = fit("ocat", x, blurred, r=3), fit("ocat", x, y, r=3)
    np.testing.assert_array_equal(a.beta, b.beta)
    np.testing.assert_array_equal(a.shape_params, b.shape_params)


@pytest.fixture(scope="module")
def linear_data():
    return simulate_ocat(lambda x: 3.0 * x, [0.3, 1.2, 2.4], 3000, 31)


def test_linear_truth_agrees_with_an_unpenalised_ordered_logit(linear_data):
    x, y = linear_data
    model = fit("ocat", x, y, r=4)
    assert model.converged
    # The truth is linear, which the cubic spline penalty leaves unpenalised: the chosen
    # lambda is large and the latent curve is (nearly) a straight line.
    assert getattr(model, "lambda")[0] > 1e3
    ends = model.predict(np.array([[0.0], [1.0]]))
    slope = ends[1] - ends[0]
    # krelm fixes the first cut at -1 and fits an intercept; the slope and the gaps
    # between cut points do not depend on that choice.
    gaps = np.exp(model.shape_params)
    oracle = OrderedModel(y.astype(int), x, distr="logit").fit(method="bfgs", disp=False)
    oracle_cuts = oracle.model.transform_threshold_params(oracle.params)[1:-1]
    assert slope == pytest.approx(oracle.params[0], rel=0.1)
    np.testing.assert_allclose(gaps, np.diff(oracle_cuts), rtol=0.1)


def test_nonlinear_truth_is_recovered():
    def truth(x):
        return 2.0 * np.sin(2.0 * np.pi * x)

    x, y = simulate_ocat(truth, [-1.0, 0.0, 1.0], 3000, 32)
    model = fit("ocat", x, y, r=4)
    assert model.converged
    assert np.corrcoef(model.predict(x), truth(x[:, 0]))[0, 1] > 0.95


@pytest.mark.parametrize("r", [3, 5])
def test_fit_reports_thresholds_unit_scale_and_the_latent_eta(r):
    cuts = np.linspace(-0.5, 1.5, r - 1)
    x, y = simulate_ocat(lambda x: 2.0 * x, cuts, 800, 40 + r)
    model = fit("ocat", x, y, r=r)
    assert model.converged
    assert model.shape_params.shape == (r - 2,)
    assert model.rho.shape == (1,)
    assert model.scale == 1.0
    np.testing.assert_array_equal(model.predict_response(x), model.predict(x))
    assert model.edf_per_term[0] == pytest.approx(model.edf_total - 1.0, abs=1e-9)
