"""make_trajectory: its checks and messages, and what the trajectories it builds compute."""

from fractions import Fraction

import numpy as np
import pytest
from support import oracle

from pyorvex import make_trajectory

KNOTS, CPTS = [0.0, 0.0, 0.0, 1.0, 2.0, 2.0, 2.0], [0.0, 1.0, 3.0, 2.0]


@pytest.mark.parametrize(
    "knots, cpts, p, order, error, message",
    [
        (
            KNOTS,
            CPTS,
            1,
            0,
            ValueError,
            "a degree-1 trajectory with 4 control points needs 6 knots (len(cpts) + p + 1), got 7",
        ),
        (
            KNOTS[:-1],
            CPTS,
            2,
            0,
            ValueError,
            "a degree-2 trajectory with 4 control points needs 7 knots (len(cpts) + p + 1), got 6",
        ),
        (
            [0, 0, 0, 1.5, 1, 2, 2],
            CPTS,
            2,
            0,
            ValueError,
            "'knots' must be non-decreasing: knots[4] = 1.0 < knots[3] = 1.5",
        ),
        (
            [2, 2, 2, 1, 0, 0, 0],
            CPTS,
            2,
            0,
            ValueError,
            "'knots' must be non-decreasing: knots[3] = 1.0 < knots[2] = 2.0",
        ),
        (KNOTS, CPTS, -1, 0, ValueError, "the degree 'p' must be non-negative, got -1"),
        (KNOTS, CPTS, 2.0, 0, TypeError, "'p' must be an integer, got float"),
        (KNOTS, CPTS, "2", 0, TypeError, "'p' must be an integer, got str"),
        (KNOTS, CPTS, True, 0, TypeError, "'p' must be an integer, got bool"),
        (KNOTS, CPTS, 2, 0.5, TypeError, "'order' must be an integer, got float"),
        (KNOTS, CPTS, 2, -1, ValueError, "'order' must be non-negative, got -1"),
        (
            KNOTS,
            CPTS,
            2,
            2**32,
            OverflowError,
            "'order' must be at most 4294967295, got 4294967296",
        ),
        ([KNOTS], CPTS, 2, 0, ValueError, "'knots' must be one-dimensional, got 2 dimensions"),
        (
            KNOTS,
            np.array(CPTS).reshape(2, 2, 1),
            2,
            0,
            ValueError,
            "'cpts' must have one dimension, or two for several axes, got 3 dimensions",
        ),
        (
            KNOTS,
            1.0,
            2,
            0,
            ValueError,
            "'cpts' must have one dimension, or two for several axes, got 0 dimensions",
        ),
        (
            [1.0] * 7,
            CPTS,
            2,
            0,
            ValueError,
            "the domain [knots[0], knots[-1]] = [1.0, 1.0] is empty",
        ),
        ([0.0, 1.0], [], 1, 0, ValueError, "'cpts' must hold at least one control point"),
        (
            [0, 0, 0, np.nan, 2, 2, 2],
            CPTS,
            2,
            0,
            ValueError,
            "'knots' must be finite: knots[3] = nan",
        ),
        (
            [0, 0, 0, 1, 2, 2, np.inf],
            CPTS,
            2,
            0,
            ValueError,
            "'knots' must be finite: knots[6] = inf",
        ),
        (KNOTS, [0.0, np.nan, 3.0, 2.0], 2, 0, ValueError, "'cpts' must be finite: cpts[1] = nan"),
        (
            KNOTS,
            [0.0, 1.0, 3.0, -np.inf],
            2,
            0,
            ValueError,
            "'cpts' must be finite: cpts[3] = -inf",
        ),
        (
            KNOTS,
            np.array(CPTS) * 1j,
            2,
            0,
            TypeError,
            "'cpts' must hold real numbers, got an array of dtype complex128",
        ),
        (
            KNOTS,
            [0.0, None, 3.0, 2.0],
            2,
            0,
            TypeError,
            "'cpts' must hold real numbers, got None at index 1",
        ),
        (
            KNOTS,
            ["0", "1", "3", "2"],
            2,
            0,
            TypeError,
            "'cpts' must hold real numbers, got an array of dtype <U1",
        ),
    ],
    ids=[
        "too many knots",
        "too few knots",
        "decreasing knot",
        "reversed knots",
        "negative degree",
        "float degree",
        "str degree",
        "bool degree",
        "float order",
        "negative order",
        "order too large",
        "2-D knots",
        "2-D cpts",
        "scalar cpts",
        "empty domain",
        "no control point",
        "nan knot",
        "infinite knot",
        "nan cpt",
        "infinite cpt",
        "complex cpts",
        "None in cpts",
        "strings as cpts",
    ],
)
def test_refuses_with_a_clear_message(knots, cpts, p, order, error, message):
    with pytest.raises(error) as info:
        make_trajectory(knots, cpts, p, order)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "convert",
    [
        list,
        tuple,
        lambda a: np.asarray(a, dtype=np.float32),
        lambda a: np.repeat(a, 2)[::2],
        lambda a: [Fraction(v).limit_denominator() for v in a],
    ],
    ids=["list", "tuple", "float32", "strided view", "fractions"],
)
def test_accepts_array_likes_and_copies_them(convert):
    knots = np.array([0.0, 0.0, 0.5, 1.25, 2.0, 2.0])
    cpts = np.array([1.0, -0.5, 0.25, 3.0])
    reference = make_trajectory(knots, cpts, 1, order=2)
    built = make_trajectory(convert(knots), convert(cpts), np.int64(1), order=np.uint8(2))
    assert built == reference
    assert (built.p, built.n, built.order, built.start, built.stop) == (1, 3, 2, 0.0, 2.0)
    knots[2], cpts[0] = 1.0, 9.0  # the trajectory holds copies
    assert reference.get_knotvector_asarray()[2] == 0.5 and reference.get_cpts_asarray()[0] == 1.0


@pytest.mark.parametrize("p", range(6))
@pytest.mark.parametrize("seed", range(3))
def test_evaluates_like_scipy(p, seed):
    rng = np.random.default_rng(100 * p + seed)
    interior = np.sort(rng.uniform(-1.0, 3.0, 7))
    interior[3] = interior[4] = interior[2]  # an interior knot of multiplicity 3
    knots = np.concatenate([[-1.0] * (p + 1), interior, [3.0] * (p + 1)])
    cpts = rng.normal(size=knots.size - p - 1)
    traj = make_trajectory(knots, cpts, p, order=seed)
    ref = oracle.spline(knots, cpts, p)
    x = np.sort(rng.uniform(-1.0, 3.0, 50))
    for nu in range(p + 1):
        np.testing.assert_allclose(traj(x, nu), ref(x, nu), rtol=1e-9, atol=1e-9 * 4.0**nu)
    ends = np.array([-1.0, 3.0])
    np.testing.assert_allclose(traj(ends), ref(ends), rtol=1e-12, atol=1e-12)
