"""Sum and product of trajectories, and the number protocol of Trajectory1d."""

import operator
from fractions import Fraction

import numpy as np
import pytest
from support import oracle
from support.method_table import entry
from support.trajectories import (
    clamped_knots,
    cpts_of,
    grid,
    knots_of,
    random_traj,
    state,
    trajectory,
)

from pyorvex.defdatastruct import Trajectory1d

TYPE_NAME = "pyorvex.defdatastruct.Trajectory1d"


def spline(interior=(0.25, 0.5, 0.75), cpts=None, p=3, a=0.0, b=1.0, order=0, cls=Trajectory1d):
    knots = clamped_knots(list(interior), p, a, b)
    if cpts is None:
        cpts = np.linspace(-1.0, 2.0, knots.size - p - 1) ** 2
    return trajectory(knots, cpts, p, order, cls=cls)


def message(excinfo):
    return str(excinfo.value)


# --- c_splcsum and c_splcmul: checks in their order ----------------------------------------------


@pytest.mark.parametrize(
    "other, text",
    [
        (spline(p=2, b=5.0, order=1), "the input traiectories must have the same order"),
        (spline(b=1.5), "the input traiectories must have the same extremes of domain"),
        (spline(a=-0.5), "the input traiectories must have the same extremes of domain"),
        (
            spline(a=-0.5, b=2.0, order=3),
            "the input traiectories must have the same extremes of domain",
        ),
        (spline(order=2), "the trajectories must have the same 'order'"),
    ],
)
@pytest.mark.parametrize("call", [lambda t, u: t.c_splcsum(u), operator.add, operator.sub])
def test_sum_refuses_mismatched_operands(other, text, call):
    t = spline()
    before = (state(t), state(other))
    with pytest.raises(ValueError) as e:
        call(t, other)
    assert message(e) == text
    assert (state(t), state(other)) == before


class Window(Trajectory1d):
    """Declares [0.25, 0.75] as its domain, whatever its knots span."""

    start = property(lambda self: 0.25)
    stop = property(lambda self: 0.75)


class Regrown(Window):
    """Its start property gives it new arrays of another degree (Python code may do anything)."""

    @property
    def start(self):
        other = spline(p=2)
        self._dset_data(other._sget_knotvector(), other._sget_cpts(), 2, other.n, 0, True)
        return 0.25


@pytest.mark.parametrize(
    "left, right, text",
    [
        (Window, Trajectory1d, "the input traiectories must have the same extremes of domain"),
        (Trajectory1d, Window, "the input traiectories must have the same extremes of domain"),
        (Regrown, Window, "the input traiectories must have the same order"),
        (Window, Window, None),
    ],
)
def test_sum_compares_the_start_and_stop_properties(left, right, text):
    a, b = spline(cls=left), spline(cls=right)
    if text is None:
        assert a.c_splcsum(b) == spline() + spline()
        return
    with pytest.raises(ValueError) as e:
        a.c_splcsum(b)
    assert message(e) == text


@pytest.mark.parametrize(
    "name, arg, error, text",
    [
        (
            "c_splcsum",
            None,
            TypeError,
            "Argument 'other' has incorrect type (expected %s, got NoneType)" % TYPE_NAME,
        ),
        (
            "c_splcsum",
            1.0,
            TypeError,
            "Argument 'other' has incorrect type (expected %s, got float)" % TYPE_NAME,
        ),
        (
            "c_splcmul",
            1.0,
            TypeError,
            "Argument 'other' has incorrect type (expected %s, got float)" % TYPE_NAME,
        ),
        ("c_splcmul", None, NotImplementedError, ""),
        ("c_splcmul", spline(), NotImplementedError, ""),
    ],
)
def test_sum_and_product_argument(name, arg, error, text):
    with pytest.raises(error) as e:
        getattr(spline(), name)(arg)
    assert message(e) == text


@pytest.mark.parametrize(
    "call", [lambda t: t.c_splcsum(other=t), lambda t: t.c_splcsum(), lambda t: t.c_splcmul(t, t)]
)
def test_sum_and_product_take_one_positional_argument(call):
    with pytest.raises(TypeError):
        call(spline())


def test_sum_of_empty_trajectories_is_refused():
    with pytest.raises(ValueError):
        Trajectory1d().c_splcsum(Trajectory1d())


# --- the sum --------------------------------------------------------------------------------------


@pytest.mark.parametrize("p", range(1, 8))
def test_sum_is_pointwise_on_the_union_knot_vector(p):
    rng = np.random.default_rng(p)
    T = random_traj(rng, p, p + 5, start=-1.0, stop=3.0, order=2)[0]
    U = random_traj(rng, p, p + 7, start=-1.0, stop=3.0, order=2)[0]
    shared = knots_of(T)[p + 1]
    U = trajectory(
        np.sort(np.append(knots_of(U), [shared] * 2)),
        np.append(cpts_of(U), [0.5, -0.5]),
        p,
        order=2,
    )
    before = (state(T), state(U))
    for S in (T + U, T.c_splcsum(U)):
        assert type(S) is Trajectory1d
        assert (S.p, S.order, S.start, S.stop) == (p, 2, -1.0, 3.0)
        knots = knots_of(S)
        assert knots.size == S.n + p + 2
        for v in np.unique(np.concatenate([knots_of(T), knots_of(U)])):
            expected = max(np.count_nonzero(knots_of(T) == v), np.count_nonzero(knots_of(U) == v))
            assert np.count_nonzero(knots == v) == expected
        x = grid(T, 301)
        assert np.allclose(
            oracle.values(S, x), oracle.values(T, x) + oracle.values(U, x), atol=1e-11
        )
    assert (state(T), state(U)) == before


def test_sum_with_a_copy_doubles():
    t = spline()
    s = t + t.copy()
    assert (s.p, s.n, s.order) == (t.p, t.n, t.order)
    assert np.allclose(cpts_of(s), 2 * cpts_of(t))
    s.get_cpts_asarray()[:] = 0.0
    assert np.any(cpts_of(t) != 0.0)


def test_difference_of_trajectories_leaves_the_subtrahend_alone():
    T = spline(interior=(0.25,), order=1)
    U = spline(interior=(0.5, 0.75), cpts=np.arange(6.0), order=1)
    before = state(U)
    D = T - U
    assert state(U) == before
    x = grid(T)
    assert np.allclose(oracle.values(D, x), oracle.values(T, x) - oracle.values(U, x), atol=1e-12)
    assert state(D) == state(T + (-1.0) * U)


def test_product_of_trajectories_is_not_implemented():
    with pytest.raises(NotImplementedError):
        spline() * spline()


# --- numbers --------------------------------------------------------------------------------------

C = np.linspace(-1.0, 2.0, 7) ** 2


@pytest.mark.parametrize(
    "op, expected",
    [
        (lambda t: t + 1.5, C + 1.5),
        (lambda t: 1.5 + t, C + 1.5),
        (lambda t: t + Fraction(1, 2), C + 0.5),
        (lambda t: t - 2, C - 2),
        (lambda t: 2 - t, 2 - C),
        (lambda t: t * 3, C * 3),
        (lambda t: 3 * t, C * 3),
        (lambda t: t / 4, C * 0.25),
        (lambda t: t / 3.0, C * (3.0**-1.0)),
        (lambda t: t * True, C),
    ],
)
@pytest.mark.parametrize("order", [0, 4])
def test_binary_operators_with_numbers(op, expected, order):
    t = spline(order=order)
    before = state(t)
    r = op(t)
    assert type(r) is Trajectory1d and r is not t
    assert state(t) == before
    assert np.array_equal(cpts_of(r), expected)
    assert (r._sget_knotvector(), r.p, r.n, r.order) == (before[3], 3, 6, order)


@pytest.mark.parametrize(
    "op, expected",
    [
        (operator.iadd, C + 1.5),
        (operator.isub, C - 1.5),
        (operator.imul, C * 1.5),
        (operator.itruediv, C * (1.5**-1.0)),
    ],
)
def test_in_place_operators_return_self(op, expected):
    t = spline(order=2)
    knots = t._sget_knotvector()
    r = op(t, 1.5)
    assert r is t
    assert np.array_equal(cpts_of(t), expected)
    assert (t._sget_knotvector(), t.p, t.n, t.order) == (knots, 3, 6, 2)


def test_unary_minus_negates_in_place():
    t = spline()
    y = -t
    assert y is t
    assert np.array_equal(cpts_of(t), -C)
    assert -t is t
    assert np.array_equal(cpts_of(t), C)
    assert -(-t) is t
    assert np.array_equal(cpts_of(t), C)


class Negates:
    def __neg__(self):
        return 5.0


class Powers:
    def __pow__(self, exponent):
        assert exponent == -1.0 and type(exponent) is float
        return 0.5


def test_subtraction_and_division_go_through_the_number_protocol():
    t = spline()
    t -= Negates()
    assert np.array_equal(cpts_of(t), C + 5.0)
    t /= Powers()
    assert np.array_equal(cpts_of(t), (C + 5.0) * 0.5)


@pytest.mark.parametrize(
    "op, error",
    [
        (lambda t: operator.iadd(t, "a"), TypeError),
        (lambda t: operator.isub(t, "a"), TypeError),
        (lambda t: operator.imul(t, None), TypeError),
        (lambda t: operator.itruediv(t, "a"), TypeError),
        (lambda t: operator.itruediv(t, 0), ZeroDivisionError),
        (lambda t: operator.itruediv(t, 0.0), ZeroDivisionError),
        (lambda t: t / 0.0, ZeroDivisionError),
        (lambda t: t + "a", TypeError),
        (lambda t: "a" - t, TypeError),
        (lambda t: None * t, TypeError),
        (lambda t: operator.iadd(t, spline()), TypeError),
        (lambda t: operator.imul(t, spline()), TypeError),
        (lambda t: operator.itruediv(t, spline()), TypeError),
    ],
)
def test_failed_operators_leave_the_trajectory_unchanged(op, error):
    t = spline()
    before = state(t)
    with pytest.raises(error):
        op(t)
    assert state(t) == before


def test_zero_division_message():
    with pytest.raises(ZeroDivisionError) as e:
        spline() / 0.0
    assert message(e) == "0.0 cannot be raised to a negative power"


def test_in_place_subtraction_of_a_trajectory_changes_neither():
    t, U = spline(), spline(cpts=np.arange(7.0))
    before = (state(t), state(U))
    with pytest.raises(TypeError) as e:
        t -= U
    assert message(e) == "must be real number, not " + TYPE_NAME
    assert (state(t), state(U)) == before


@pytest.mark.parametrize(
    "op, left, right",
    [
        (lambda a, b: a / b, "Trajectory1d", "Trajectory1d"),
        (lambda a, b: 2.0 / b, "float", "Trajectory1d"),
        (lambda a, b: 2 / b, "int", "Trajectory1d"),
    ],
)
def test_division_by_a_trajectory_is_unsupported(op, left, right):
    T, U = spline(), spline()
    before = (state(T), state(U))
    with pytest.raises(TypeError) as e:
        op(T, U)
    full = {"Trajectory1d": "'%s'" % TYPE_NAME, "float": "'float'", "int": "'int'"}
    assert message(e) == "unsupported operand type(s) for /: %s and %s" % (full[left], full[right])
    assert (state(T), state(U)) == before


# --- subclasses -----------------------------------------------------------------------------------


class Plain(Trajectory1d):
    pass


class Custom(Trajectory1d):
    """Records what the operators call on it; copies are Custom too."""

    log = []

    def copy(self):
        Custom.log.append("copy")
        return trajectory(knots_of(self), cpts_of(self), self.p, self.order, cls=Custom)

    def __iadd__(self, c):
        Custom.log.append(("iadd", c))
        return Trajectory1d.__iadd__(self, c)

    def __imul__(self, c):
        Custom.log.append(("imul", c))
        return "discarded"

    def c_splcsum(self, other):
        Custom.log.append("c_splcsum")
        return None

    def c_splcmul(self, other):
        Custom.log.append("c_splcmul")
        return other


@pytest.mark.parametrize(
    "op",
    [
        lambda t: t + 1.0,
        lambda t: 1.0 - t,
        lambda t: t / 2,
        lambda t: t + t,
        lambda t: t - t.copy(),
    ],
)
def test_results_of_plain_subclasses_are_trajectories(op):
    t = spline(cls=Plain)
    assert type(op(t)) is Trajectory1d


def test_operators_use_the_subclass_methods():
    Custom.log.clear()
    t = spline(cls=Custom)
    r = t + 1.0
    assert type(r) is Custom and np.array_equal(cpts_of(r), C + 1.0)
    r = 2.0 * t
    assert type(r) is Custom and np.array_equal(cpts_of(r), C)  # its __imul__ did nothing
    assert t + t is None
    assert t * 2.0 is not t and (t * t) is t
    assert Custom.log == [
        "copy",
        ("iadd", 1.0),
        "copy",
        ("imul", 2.0),
        "c_splcsum",
        "copy",
        ("imul", 2.0),
        "c_splcmul",
    ]
    assert np.array_equal(cpts_of(t), C)


def test_copy_override_with_a_wrong_result_in_number_minus():
    class Odd(Trajectory1d):
        def copy(self):
            return None

    with pytest.raises(TypeError) as e:
        1.0 - spline(cls=Odd)
    assert message(e) == "Cannot convert NoneType to " + TYPE_NAME


def test_c_level_sum_consults_overrides():
    Custom.log.clear()
    t, u = spline(cls=Custom), spline()
    assert entry("c_splcsum")(t, u, 0) is None
    assert entry("c_splcmul")(t, u, 0) is u
    assert type(entry("c_splcsum")(t, u, 1)) is Trajectory1d
    with pytest.raises(NotImplementedError):
        entry("c_splcmul")(t, None, 1)
    with pytest.raises(TypeError):
        entry("c_splcsum")(t, None, 1)
    assert Custom.log == ["c_splcsum", "c_splcmul"]
