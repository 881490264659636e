"""The module surface: names, signatures, docstrings, and the read-only result class."""

import inspect
import pickle  # noqa: F401  (the class must be importable by its module path)

import krelm
import numpy as np
import pytest
from krelm import _krelm_native as native


def test_module_registers_three_names_in_order():
    assert native.__all__ == ["FittedGam", "fit", "fit_additive"]
    assert native.FittedGam.__module__ == "krelm._krelm_native"


def test_fit_signature_lists_fifteen_parameters_with_defaults():
    signature = inspect.signature(native.fit)
    expected = {
        "family_name": inspect.Parameter.empty,
        "x": inspect.Parameter.empty,
        "y": inspect.Parameter.empty,
        "weights": None,
        "k": 10,
        "design": "cr",
        "theta": None,
        "nu": None,
        "sigma2": None,
        "tweedie_p": None,
        "tweedie_phi": None,
        "r": None,
        "tau": None,
        "elf_sigma": None,
        "elf_lambda": None,
    }
    assert list(signature.parameters) == list(expected)
    for name, default in expected.items():
        assert signature.parameters[name].default == default
        assert signature.parameters[name].kind == inspect.Parameter.POSITIONAL_OR_KEYWORD


@pytest.mark.parametrize(
    "method, parameters",
    [
        ("vcov", "($self)"),
        ("term_col_ranges", "($self)"),
        ("predict", "($self, x_new)"),
        ("predict_response", "($self, x_new)"),
        ("predict_ci", '($self, x_new, level=0.95, scale="response")'),
        ("predict_diff", "($self, x_a, x_b, level=0.95)"),
        ("evaluate_lpmatrix", "($self, x_new)"),
    ],
)
def test_method_signatures_come_from_docstrings(method, parameters):
    assert getattr(native.FittedGam, method).__text_signature__ == parameters


def test_fit_additive_signature():
    signature = inspect.signature(native.fit_additive)
    assert list(signature.parameters) == ["family_name", "x", "y", "terms", "weights"]
    assert signature.parameters["weights"].default is None


def test_fitted_gam_cannot_be_constructed_or_changed(gaussian_data):
    with pytest.raises(TypeError):
        native.FittedGam()
    x, y = gaussian_data
    model = krelm.fit("gaussian", x, y, k=6)
    with pytest.raises(AttributeError):
        model.beta = np.zeros(6)
    first = model.beta
    first[0] = 99.0
    assert model.beta[0] != 99.0
    assert model.beta is not model.beta
    assert not hasattr(model, "coef_")
    with pytest.raises(TypeError):
        native.FittedGam.vcov(None)


def test_package_exports_version():
    assert isinstance(krelm.__version__, str)
