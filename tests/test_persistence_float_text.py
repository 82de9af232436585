"""The float text of documents: repr() of each double on output, float() of each piece on input."""

import struct

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from lxml import etree
from support.documents import same_bits, trajectory_element, write_document
from support.trajectories import cpts_of, trajectory

from pyorvex.defdatastruct import Trajectory1d


def saved_cpts_text(tmp_path, values):
    values = np.asarray(values, dtype=np.float64)
    t = trajectory(np.arange(values.size + 1, dtype=np.float64), values, 0)
    path = tmp_path / "f.pyorvex"
    if path.exists():
        path.unlink()
    t.savexml(str(path), "x")
    return etree.parse(str(path)).find("Trajectory1d/cpts").text, path


def bits(x):
    return struct.unpack("<q", struct.pack("<d", x))[0]


EDGE_VALUES = [
    0.0,
    -0.0,
    1.0,
    -1.0,
    2.0,
    0.5,
    0.1,
    1e-05,
    0.0001,
    0.001,
    0.00012345,
    1.5e-07,
    1234.5,
    1e15,
    1e16,
    9999999999999998.0,
    1234567890123456.7,
    1.2345678901234568e17,
    1e22,
    1e23,
    1.5e20,
    5e-324,
    2.2250738585072014e-308,
    2.225073858507201e-308,
    1.7976931348623157e308,
    -1.7976931348623157e308,
    4.35e-200,
    123456789.0,
    0.3,
    2.0**52,
    2.0**53 + 2,
    2.0**-1074,
    float("inf"),
    float("-inf"),
]


def test_edge_values_are_written_as_repr_and_read_back_bit_for_bit(tmp_path):
    text, path = saved_cpts_text(tmp_path, EDGE_VALUES)
    assert text == " ".join(repr(v) for v in EDGE_VALUES)
    back = Trajectory1d.loadxml(str(path), "x")
    assert same_bits(cpts_of(back), EDGE_VALUES)


def test_nan_is_written_as_nan_whatever_its_sign_and_payload(tmp_path):
    nans = np.array(
        [0x7FF8000000000000, 0xFFF8000000000000, 0x7FF0000000000001, 0x7FF8DEADBEEF0000],
        dtype=np.uint64,
    ).view(np.float64)
    text, path = saved_cpts_text(tmp_path, nans)
    assert text == "nan nan nan nan"
    back = cpts_of(Trajectory1d.loadxml(str(path), "x"))
    assert [bits(v) for v in back] == [bits(float("nan"))] * 4


@settings(max_examples=60, deadline=None)
@given(st.lists(st.floats(allow_nan=False), min_size=1, max_size=60))
def test_random_doubles_match_repr_and_round_trip(tmp_path_factory, values):
    tmp = tmp_path_factory.mktemp("ft")
    text, path = saved_cpts_text(tmp, values)
    assert text == " ".join(map(repr, values))
    assert same_bits(cpts_of(Trajectory1d.loadxml(str(path), "x")), values)


@pytest.mark.parametrize("seed", range(3))
def test_random_bit_patterns_match_repr_and_round_trip(tmp_path, seed):
    # Every exponent, subnormals and the full mantissa range, many at a time.
    raw = np.random.default_rng(seed).integers(0, 2**63, 50_000, dtype=np.uint64)
    raw |= np.random.default_rng(seed + 100).integers(0, 2, raw.size, dtype=np.uint64) << 63
    values = raw.view(np.float64)
    values = values[~np.isnan(values)]
    text, path = saved_cpts_text(tmp_path, values)
    assert text == " ".join(map(repr, values.tolist()))
    assert same_bits(cpts_of(Trajectory1d.loadxml(str(path), "x")), values)


def load_piece(tmp_path, piece):
    """Loads a one-point trajectory whose cpts text is piece; returns the value."""
    path = tmp_path / "p.pyorvex"
    write_document(path, trajectory_element(cpts=piece, knots="0.0 1.0"))
    return cpts_of(Trajectory1d.loadxml(str(path), "a"))[0]


def float_outcome(text):
    try:
        return ("value", bits(float(text)))
    except ValueError as e:
        return ("error", str(e))


def load_outcome(tmp_path, text):
    try:
        return ("value", bits(load_piece(tmp_path, text)))
    except ValueError as e:
        return ("error", str(e))


PIECES = [
    "1",
    "-1",
    "+1.5",
    "1.",
    ".5",
    "-.5",
    "1e5",
    "1E5",
    "1e+05",
    "1e-5",
    "-0",
    "+0.0",
    "00012",
    "1_000",
    "1_0.5_5",
    "\t1.5",
    "1.5\t",
    "\n2.5",
    "1e400",
    "-1e400",
    "1e-400",
    "-1e-400",
    "inf",
    "-inf",
    "+inf",
    "Inf",
    "infinity",
    "-Infinity",
    "nan",
    "-nan",
    "NaN",
    "+nan",
    "4.9406564584124654e-324",
    "2.4703282292062328e-324",
    "2.4703282292062327e-324",
    "2.2250738585072011e-308",
    "9007199254740993",
    "0." + "1" * 400,
    "1" * 320,
    "1.7976931348623158e308",
    "1.7976931348623159e308",
    "\u0661\u0662.5",
    "\uff11\uff12",
    # not numbers: float() refuses them, and so does the loader, with the same message
    "abc",
    "1.5x",
    "e5",
    "1e",
    "1.5e+",
    "--1",
    "+-1",
    "1__0",
    "_1",
    "1_",
    "0x10",
    "nan(1)",
    "in",
    "1,5",
    "1.2.3",
    "\u00a0",
]


@pytest.mark.parametrize("piece", PIECES)
def test_pieces_are_read_as_float_reads_them(tmp_path, piece):
    assert load_outcome(tmp_path, piece) == float_outcome(piece)


@settings(max_examples=150, deadline=None)
@given(st.text(alphabet="0123456789.eE+-_infatyINFATY\t", min_size=1, max_size=12))
def test_random_texts_are_read_as_float_reads_them(tmp_path_factory, text):
    assert load_outcome(tmp_path_factory.mktemp("ft"), text) == float_outcome(text)


@settings(max_examples=100, deadline=None)
@given(st.floats(allow_nan=False), st.sampled_from(["{}", "+{}", "upper", "\t{}\n"]))
def test_variants_of_repr_texts_are_read_as_float_reads_them(tmp_path_factory, x, form):
    text = repr(x).upper() if form == "upper" else form.format(repr(x))
    assert load_outcome(tmp_path_factory.mktemp("ft"), text) == float_outcome(text)


@pytest.mark.parametrize(
    "text, message",
    [
        ("1.0  2.0", "could not convert string to float: ''"),
        (" 1.0 2.0", "could not convert string to float: ''"),
        ("1.0 2.0 ", "could not convert string to float: ''"),
        ("1.0 x 2.0", "could not convert string to float: 'x'"),
    ],
)
def test_text_is_split_at_every_single_space(tmp_path, text, message):
    path = tmp_path / "s.pyorvex"
    write_document(path, trajectory_element(n="1", cpts=text, knots="0 0 1"))
    with pytest.raises(ValueError) as err:
        Trajectory1d.loadxml(str(path), "a")
    assert str(err.value) == message


def test_other_whitespace_belongs_to_the_piece(tmp_path):
    path = tmp_path / "w.pyorvex"
    # float() takes the whitespace around a piece ...
    write_document(path, trajectory_element(n="1", cpts="1.5\n\t 2.5", knots="0 0 1"))
    assert list(cpts_of(Trajectory1d.loadxml(str(path), "a"))) == [1.5, 2.5]
    # ... but a line break does not separate numbers.
    write_document(path, trajectory_element(n="1", cpts="1.5\n2.5 3.5", knots="0 0 1"))
    with pytest.raises(ValueError) as err:
        Trajectory1d.loadxml(str(path), "a")
    assert str(err.value) == "could not convert string to float: '1.5\\n2.5'"
