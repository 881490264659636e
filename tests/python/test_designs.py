"""Single-smooth designs from Python: cr and cr_stable agree, random effects behave."""

import numpy as np
import pytest
from krelm import fit
from simulated import simulate


@pytest.mark.parametrize("family", ["gaussian", "poisson", "gamma"])
def test_cr_and_cr_stable_give_the_same_fit(family):
    x, y = simulate(family, 500)
    cr = fit(family, x, y, k=9, design="cr")
    stable = fit(family, x, y, k=9, design="cr_stable")
    np.testing.assert_allclose(stable.predict(x), cr.predict(x), rtol=1e-8, atol=1e-10)
    assert stable.reml_value == pytest.approx(cr.reml_value, rel=1e-8)
    assert stable.edf_total == pytest.approx(cr.edf_total, rel=1e-6)


def test_random_effect_levels_and_unseen_levels():
    x = np.array([[3.0], [1.0], [3.0], [2.0]])
    y = np.array([1.0, 2.0, 1.2, 3.0])
    model = fit("gaussian", x, y, design="re", k=2)  # k plays no part for "re"
    lpmatrix = model.evaluate_lpmatrix(x)
    np.testing.assert_array_equal(
        lpmatrix,
        [[1, 0, 0, 1], [1, 1, 0, 0], [1, 0, 0, 1], [1, 0, 1, 0]],
    )
    intercept = model.beta[0]
    assert model.predict(np.array([[4.0]]))[0] == intercept
    assert model.predict(np.array([[2.0]]))[0] == pytest.approx(intercept + model.beta[2])
    np.testing.assert_array_equal(
        model.evaluate_lpmatrix(np.array([[-0.0], [0.0]])), [[1, 0, 0, 0], [1, 0, 0, 0]]
    )


def test_signed_zeros_are_one_level():
    rng = np.random.default_rng(4)
    x = rng.choice([-0.0, 0.0, 1.0, 2.0], size=(60, 1))
    y = rng.normal(size=60)
    model = fit("gaussian", x, y, design="re")
    assert len(model.beta) == 4
    np.testing.assert_array_equal(
        model.predict(np.array([[-0.0]])), model.predict(np.array([[0.0]]))
    )
