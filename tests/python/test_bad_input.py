"""Bad input is refused with a clear error naming the argument or the value."""

import numpy as np
import pytest
from krelm import fit
from simulated import simulate


@pytest.fixture
def data():
    return simulate("gaussian", 40)


@pytest.mark.parametrize(
    "argument, value, message",
    [
        pytest.param("x", np.ones((20, 1), dtype=np.int64), r"^argument 'x': ", id="int64 x"),
        pytest.param("x", np.ones(20), r"^argument 'x': ", id="one-dimensional x"),
        pytest.param("y", np.ones((20, 1)), r"^argument 'y': ", id="two-dimensional y"),
        pytest.param(
            "weights", np.ones(20, dtype=np.float32), r"^argument 'weights': ", id="float32 weights"
        ),
        pytest.param("k", None, r"^argument 'k': ", id="k None"),
        pytest.param("k", 2.0, r"^argument 'k': ", id="k float"),
        pytest.param("design", None, r"^argument 'design': ", id="design None"),
        pytest.param("family_name", 3, r"^argument 'family_name': ", id="family int"),
        pytest.param("theta", "a", r"^argument 'theta': ", id="theta str"),
    ],
)
def test_conversion_errors_name_the_argument(argument, value, message):
    arguments = {"family_name": "gaussian", "x": np.ones((20, 1)), "y": np.ones(20)}
    arguments[argument] = value
    with pytest.raises(TypeError, match=message):
        fit(**arguments)


def test_negative_k_raises_overflow_unchanged(data):
    x, y = data
    with pytest.raises(OverflowError) as raised:
        fit("gaussian", x, y, k=-1)
    assert not str(raised.value).startswith("argument")


def test_missing_and_unexpected_arguments_are_type_errors(data):
    x, y = data
    with pytest.raises(TypeError):
        fit("gaussian", x)
    with pytest.raises(TypeError):
        fit("gaussian", x, y, colour="red")


UNKNOWN = (
    "unknown family {}; supported: gaussian, bernoulli, poisson, quasipoisson, quasibinomial, "
    "gamma, inverse_gaussian, negbin, tdist, tweedie, ocat, elf"
)


@pytest.mark.parametrize("name", ["Gaussian", " gaussian", "normal", ""])
def test_unknown_family_message(name, data):
    x, y = data
    with pytest.raises(ValueError) as raised:
        fit(name, x, y)
    assert str(raised.value) == UNKNOWN.format(name)


def test_unknown_design_message_prints_the_name_unquoted(data):
    x, y = data
    with pytest.raises(ValueError) as raised:
        fit("gaussian", x, y, design="CR")
    assert str(raised.value) == "design must be 'cr', 're', or 'cr_stable'; got CR"


@pytest.mark.parametrize(
    "k, message",
    [(2, "CR spline needs k ≥ 3 (got 2)"), (0, "CR spline needs k ≥ 3 (got 0)")],
)
def test_basis_size_errors(k, message, data):
    x, y = data
    with pytest.raises(ValueError) as raised:
        fit("gaussian", x, y, k=k)
    assert str(raised.value) == message


def test_single_distinct_covariate_value_is_refused():
    with pytest.raises(ValueError, match="^CR spline knots must be strictly increasing$"):
        fit("gaussian", np.ones((10, 1)), np.arange(10.0))


def test_x_without_columns_is_refused(data):
    _, y = data
    with pytest.raises(ValueError) as raised:
        fit("gaussian", np.ones((40, 0)), y)
    assert str(raised.value) == "x must have at least one column; got shape (40, 0)"


@pytest.mark.parametrize(
    "family, y_value, message",
    [
        ("poisson", -1.0, "Poisson requires y ≥ 0; got y=-1 at row 3"),
        ("quasipoisson", -2.5, "QuasiPoisson requires y ≥ 0; got y=-2.5 at row 3"),
        ("gamma", 0.0, "Gamma requires y > 0; got y=0 at row 3"),
        ("inverse_gaussian", -1.0, "InverseGaussian requires y > 0; got y=-1 at row 3"),
        ("bernoulli", 1.5, "Bernoulli requires y in [0, 1]; got y=1.5 at row 3"),
        ("binomial", np.nan, "Bernoulli requires y in [0, 1]; got y=NaN at row 3"),
        ("quasibinomial", -0.5, "QuasiBinomial requires y in [0, 1]; got y=-0.5 at row 3"),
        ("gaussian", np.nan, "y must be finite; got y=NaN at row 3"),
        ("poisson", np.inf, "y must be finite; got y=inf at row 3"),
    ],
)
def test_response_messages_name_value_and_row(family, y_value, message):
    x = np.linspace(0, 1, 30).reshape(-1, 1)
    y = np.full(30, 0.5)
    y[3] = y_value
    with pytest.raises(ValueError) as raised:
        fit(family, x, y)
    assert str(raised.value) == message


def test_data_checks_come_in_order():
    x = np.linspace(0, 1, 30).reshape(-1, 1)
    bad_y = np.full(31, -1.0)
    with pytest.raises(
        ValueError,
        match=r"^x and y must have the same number of rows; "
        r"got x.nrows\(\)=30, y.len\(\)=31$",
    ):
        fit("poisson", x, bad_y, weights=np.ones(5))
    with pytest.raises(
        ValueError,
        match=r"^prior_weights length must match x rows; "
        r"got weights.len\(\)=5, x.nrows\(\)=30$",
    ):
        fit("poisson", x, np.full(30, -1.0), weights=np.ones(5))


@pytest.mark.parametrize("weight, shown", [(-1.0, "-1"), (np.nan, "NaN"), (np.inf, "inf")])
def test_bad_weights_are_refused(weight, shown):
    x = np.linspace(0, 1, 30).reshape(-1, 1)
    weights = np.ones(30)
    weights[7] = weight
    with pytest.raises(ValueError) as raised:
        fit("gaussian", x, np.sin(x[:, 0]), weights=weights)
    assert (
        str(raised.value) == f"weights must be finite and non-negative; got weight={shown} at row 7"
    )


def test_non_finite_covariate_is_refused_before_the_design():
    x = np.linspace(0, 1, 30).reshape(-1, 1)
    x[4, 0] = np.nan
    with pytest.raises(ValueError) as raised:
        fit("gaussian", x, np.ones(30), k=2)
    assert str(raised.value) == "x must be finite; got x=NaN at row 4, column 0"


def test_other_families_parameters_are_ignored(data):
    x, y = data
    assert fit("gaussian", x, y, theta=-5, r=1, k=5).converged


@pytest.mark.parametrize("k", [2**31, 2**63 + 5, 2**64 - 1])
def test_huge_basis_sizes_are_refused(k, data):
    x, y = data
    with pytest.raises(ValueError, match=r"^CR spline needs k ≤ 2147483647 \(got \d+\)$"):
        fit("gaussian", x, y, k=k)


def test_covariate_range_too_wide_for_cubic_pieces_is_refused():
    x = np.linspace(-1e300, 1e300, 50).reshape(-1, 1)
    with pytest.raises(ValueError) as raised:
        fit("poisson", x, np.ones(50), k=5)
    assert str(raised.value).startswith(
        "CR spline knots span too wide a range to evaluate; got knots from -1"
    )
