"""Persistence: the framed byte format, pickling, and refusal of damaged bytes."""

import pickle
import struct

import numpy as np
import pytest
from krelm import FittedGam, fit, fit_additive
from simulated import simulate


def additive_fit():
    rng = np.random.default_rng(8)
    x = rng.uniform(size=(400, 4))
    x[:, 1] = rng.integers(0, 5, 400)
    y = np.sin(4 * x[:, 0]) + 0.3 * x[:, 1] + x[:, 2] * x[:, 3] + rng.normal(0, 0.2, 400)
    terms = [(0, "cr", 6), (1, "re"), ((2, 3), "te", (4, 4))]
    return fit_additive("gaussian", x, y, terms), x


def single_fit(family, design):
    x, y = simulate(family, 300)
    if design == "re":
        x = np.floor(x * 6.0)
    return fit(family, x, y, k=7, design=design), x


def extended_fit(family, **parameters):
    x, y = simulate("poisson", 400)
    if family == "ocat":
        y = np.clip(np.round(y / 2.0), 1, 4)
    elif family == "tdist" or family == "elf":
        y = np.log1p(y)
    return fit(family, x, y, k=6, **parameters), x


CASES = [
    pytest.param(lambda: single_fit("gaussian", "cr"), id="cr"),
    pytest.param(lambda: single_fit("poisson", "cr_stable"), id="cr_stable"),
    pytest.param(lambda: single_fit("bernoulli", "re"), id="re"),
    pytest.param(lambda: single_fit("gamma", "cr"), id="gamma"),
    pytest.param(lambda: single_fit("inverse_gaussian", "cr"), id="inverse-gaussian"),
    pytest.param(lambda: single_fit("quasipoisson", "cr"), id="quasipoisson"),
    pytest.param(lambda: single_fit("quasibinomial", "cr"), id="quasibinomial"),
    pytest.param(additive_fit, id="additive-with-te"),
    pytest.param(lambda: extended_fit("negbin"), id="negbin"),
    pytest.param(lambda: extended_fit("tweedie"), id="tweedie"),
    pytest.param(lambda: extended_fit("tdist"), id="tdist"),
    pytest.param(lambda: extended_fit("ocat", r=4), id="ocat"),
    pytest.param(lambda: extended_fit("elf", tau=0.3), id="elf"),
]


@pytest.mark.parametrize("make", CASES)
def test_pickle_round_trip_is_bit_for_bit(make):
    model, x = make()
    frame = model.serialize()
    restored = pickle.loads(pickle.dumps(model))
    assert type(restored) is FittedGam
    assert restored.serialize() == frame
    np.testing.assert_array_equal(restored.predict(x), model.predict(x))
    for a, b in zip(restored.predict_ci(x), model.predict_ci(x)):
        np.testing.assert_array_equal(a, b)
    np.testing.assert_array_equal(restored.vcov(), model.vcov())
    assert restored.term_col_ranges() == model.term_col_ranges()


def test_frame_layout():
    model, _ = single_fit("gaussian", "cr")
    frame = model.serialize()
    assert frame[:5] == b"KRELM"
    assert struct.unpack("<I", frame[5:9])[0] == 1
    (length,) = struct.unpack("<Q", frame[9:17])
    assert len(frame) == 17 + length
    body = frame[17:].decode()
    keys = [
        "beta",
        "rho",
        "lambda",
        "scale",
        "edf_total",
        "edf_per_term",
        "n",
        "n_iters",
        "converged",
        "reml_value",
        "predictor",
        "vcov",
        "link_kind",
        "shape_params",
    ]
    positions = [body.index(f'"{key}":') for key in keys]
    assert positions == sorted(positions)
    assert '"predictor":{"kind":"cr","knots":{"v":1,"dim":[7],"data":[' in body
    assert " " not in body and "\n" not in body


def test_reduce_uses_the_class_method():
    model, _ = single_fit("gaussian", "cr")
    constructor, arguments = model.__reduce__()
    assert constructor == FittedGam.deserialize
    assert arguments == (model.serialize(),)


def test_deserialize_refuses_other_buffer_types():
    model, _ = single_fit("gaussian", "cr")
    with pytest.raises(TypeError, match="^argument 'bytes': "):
        FittedGam.deserialize(bytearray(model.serialize()))
    with pytest.raises(TypeError, match="^argument 'bytes': "):
        FittedGam.deserialize(memoryview(model.serialize()))


@pytest.mark.parametrize(
    "damage, message",
    [
        (lambda f: b"", "FittedGam::deserialize: buffer too short (0 < 17 header bytes)"),
        (lambda f: f[:16], "FittedGam::deserialize: buffer too short (16 < 17 header bytes)"),
        (
            lambda f: b"X" + f[1:],
            (
                "FittedGam::deserialize: bad magic; expected [75, 82, 69, 76, 77], "
                "got [88, 82, 69, 76, 77]"
            ),
        ),
        (
            lambda f: f[:5] + struct.pack("<I", 2) + f[9:],
            (
                "FittedGam::deserialize: unsupported format_version=2 (this build expects 1). "
                "Re-serialize with a matching krelm release, or roll a migration."
            ),
        ),
        (
            lambda f: f[:9] + struct.pack("<Q", 2**64 - 1) + f[17:],
            "FittedGam::deserialize: length overflow",
        ),
    ],
)
def test_header_messages(damage, message):
    model, _ = single_fit("gaussian", "cr")
    with pytest.raises(ValueError) as raised:
        FittedGam.deserialize(damage(model.serialize()))
    assert str(raised.value) == message


def test_truncated_and_extended_frames():
    model, _ = single_fit("gaussian", "cr")
    frame = model.serialize()
    length = len(frame) - 17
    with pytest.raises(ValueError) as raised:
        FittedGam.deserialize(frame[:-1])
    assert str(raised.value) == (
        f"FittedGam::deserialize: truncated body (have {length - 1} bytes, header says "
        f"{length} payload bytes follow the 17-byte header)"
    )
    assert FittedGam.deserialize(frame + b"trailing").serialize() == frame
    with pytest.raises(ValueError, match="^FittedGam::deserialize: JSON decode failed at byte"):
        FittedGam.deserialize(frame[:9] + struct.pack("<Q", 0))


def test_nan_fields_round_trip():
    # A Gaussian fit whose scale cannot be estimated holds a NaN.
    model = fit("gaussian", np.array([[0.0], [1.0]]), np.array([0.0, 1.0]), k=3)
    assert np.isnan(model.scale)
    frame = model.serialize()
    assert b'"scale":null' in frame
    restored = pickle.loads(pickle.dumps(model))
    assert np.isnan(restored.scale)
    assert restored.serialize() == frame


def test_randomly_damaged_frames_load_consistently_or_raise():
    model, x = additive_fit()
    frame = model.serialize()
    rng = np.random.default_rng(99)
    loaded = 0
    for _ in range(2000):
        data = bytearray(frame)
        for _ in range(rng.integers(1, 4)):
            position = int(rng.integers(0, len(data)))
            data[position] = int(rng.integers(0, 256))
        try:
            restored = FittedGam.deserialize(bytes(data))
        except ValueError:
            continue
        loaded += 1
        try:
            prediction = restored.predict(x)
        except ValueError:
            continue
        assert prediction.shape == (len(x),)
    assert loaded > 0
