"""setValueTr and setValueAm: the dispatchers, their specialisations and C-level entries, the
refusals (each leaving the trajectory as it was), and the constraint really being met."""

from collections import namedtuple

import numpy as np
import pytest
from support import method_table, oracle
from support.points import Spy
from support.trajectories import cpts_of, knots_of, state, trajectory

from pyorvex.defdatastruct import Point1d, Trajectory1d

METHODS = ["setValueTr", "setValueAm"]
ANTI = "this method cannot be used to set a constraint on the n-th antiderivative"
DERIV = "this method cannot be used to set a constraint on a derivative"
NO_ORDER = "'NoneType' object has no attribute 'order'"
Triple = namedtuple("Triple", "t val order")
KNOTS = [0.0, 0.0, 0.0, 0.0, 0.3, 0.5, 0.8, 2.0, 2.0, 2.0, 2.0]
CPTS = [1.0, -0.5, 2.0, 3.5, 0.25, -1.0, 4.0]


def refused(traj, call, exc, message=None):
    """Runs call, expecting exc (with message), and checks that traj did not change."""
    before = state(traj)
    with pytest.raises(exc) as info:
        call()
    if message is not None:
        assert str(info.value) == message
    assert state(traj) == before
    return info


# --- the dispatchers ------------------------------------------------------------------------------


@pytest.mark.parametrize("name", METHODS)
def test_dispatcher_is_a_method_with_two_signatures(name):
    disp = Trajectory1d.__dict__[name]
    assert getattr(Trajectory1d, name) is disp
    assert (disp.__name__, disp.__qualname__) == (name, f"Trajectory1d.{name}")
    assert list(disp.__signatures__) == ["Point1d", "tuple"]
    assert [s.__qualname__ for s in disp.__signatures__.values()] == [
        f"Trajectory1d.__pyx_fuse_0{name}",
        f"Trajectory1d.__pyx_fuse_1{name}",
    ]
    traj = trajectory(KNOTS, CPTS, 3)
    bound = getattr(traj, name)
    assert bound.__self__ is traj and bound.__signatures__ is disp.__signatures__
    assert "p: constr (fused type: Point1d or 3-elements tuple)" in disp.__doc__
    assert {
        "setValueTr": "cannot be used to set a constraint on the n-th antiderivative",
        "setValueAm": "cannot be used to set a constraint close to zero, otherwise the "
        "whole trajectory is set to zero.",
    }[name] in " ".join(disp.__doc__.split())


@pytest.mark.parametrize("name", METHODS)
@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda tr, m: getattr(tr, m)(), TypeError, "Expected at least 2 arguments, got 1"),
        (
            lambda tr, m: getattr(tr, m)(q=(0.5, 1.0, 0)),
            TypeError,
            "Expected at least 2 arguments, got 1",
        ),
        (
            lambda tr, m: getattr(Trajectory1d, m)(tr),
            TypeError,
            "Expected at least 2 arguments, got 1",
        ),
        (
            lambda tr, m: getattr(Trajectory1d, m)(),
            TypeError,
            "Expected at least 2 arguments, got 0",
        ),
        *(
            (lambda tr, m, a=arg: getattr(tr, m)(a), TypeError, "No matching signature found")
            for arg in ([0.5, 1.0, 0], None, 3, 0.5, {"t": 0.5}, np.array([0.5, 1.0, 0.0]))
        ),
        (
            lambda tr, m: getattr(tr, m)(Triple(0.5, 1.0, 0)),
            TypeError,
            "Argument 'p' has incorrect type (expected tuple, got Triple)",
        ),
        (
            lambda tr, m: getattr(tr, m)((0.5, 1.0, 0), 2),
            TypeError,
            "{m}() takes exactly 1 positional argument (2 given)",
        ),
        (
            lambda tr, m: getattr(tr, m)((0.5, 1.0, 0), p=(0.5, 1.0, 0)),
            TypeError,
            "{m}() got multiple values for keyword argument 'p'",
        ),
        (lambda tr, m: getattr(tr, m)((0.5, 1.0)), IndexError, None),
        (
            lambda tr, m: getattr(tr, m)(p=(0.5, 1.0, -1)),
            OverflowError,
            "can't convert negative value to unsigned int",
        ),
        (lambda tr, m: getattr(tr, m)(Point1d.__new__(Spy)), AttributeError, None),
    ],
)
def test_dispatch_errors(name, call, exc, message):
    traj = trajectory(KNOTS, CPTS, 3)
    refused(
        traj, lambda: call(traj, name), exc, None if message is None else message.format(m=name)
    )


@pytest.mark.parametrize("name", METHODS)
def test_ambiguous_signatures(name):
    signatures = getattr(Trajectory1d, name).__signatures__
    signatures["(tuple)"] = signatures["tuple"]
    try:
        traj = trajectory(KNOTS, CPTS, 3)
        refused(
            traj,
            lambda: getattr(traj, name)((0.5, 1.0, 0)),
            TypeError,
            "Function call with ambiguous argument types",
        )
    finally:
        del signatures["(tuple)"]


@pytest.mark.parametrize("name", METHODS)
@pytest.mark.parametrize(
    "key, arg, exc, message",
    [
        (
            "Point1d",
            (0.5, 1.0, 0),
            TypeError,
            "Argument 'p' has incorrect type (expected pyorvex.defdatastruct.Point1d, got tuple)",
        ),
        ("Point1d", None, AttributeError, NO_ORDER),
        (
            "tuple",
            Point1d(0.5, 1.0, 0),
            TypeError,
            "Argument 'p' has incorrect type (expected tuple, got pyorvex.defdatastruct.Point1d)",
        ),
        ("tuple", None, AttributeError, NO_ORDER),
    ],
)
def test_specialisations_check_their_argument(name, key, arg, exc, message):
    traj = trajectory(KNOTS, CPTS, 3)
    specialisation = getattr(Trajectory1d, name).__signatures__[key]
    refused(traj, lambda: specialisation(traj, p=arg), exc, message)


# --- refusals and the order of the checks ---------------------------------------------------------


@pytest.mark.parametrize(
    "self_order, point_order, message", [(1, 0, ANTI), (3, 1, ANTI), (0, 1, DERIV), (1, 3, DERIV)]
)
def test_set_value_tr_refuses_constraints_of_another_order(self_order, point_order, message):
    # A shift changes no derivative: a constraint on one could never be met.
    traj = trajectory(KNOTS, CPTS, 3, order=self_order)
    pt = Spy(0.5, 1.0, point_order)
    refused(traj, lambda: traj.setValueTr(pt), ValueError, message)
    assert pt.log == ["order"]


@pytest.mark.parametrize("name", METHODS)
@pytest.mark.parametrize("val", [float("nan"), float("inf"), -float("inf")])
def test_constraint_value_must_be_finite(name, val):
    # Checked last, once the constrained quantity is known: (t, val) as (1, nan) used to turn
    # every control point into NaN.
    traj = trajectory(KNOTS, CPTS, 3)
    pt = Spy(0.5, val, 0)
    refused(
        traj, lambda: getattr(traj, name)(pt), ValueError, "the constraint value must be finite"
    )
    assert pt.log == ["order", "t", "val"]
    refused(
        traj,
        lambda: getattr(traj, name)((1.0, val, 0)),
        ValueError,
        "the constraint value must be finite",
    )


@pytest.mark.parametrize(
    "name, cpts, val",
    [
        ("setValueTr", [0.0] + [1.7e308] * 6, 1e308),  # the shift overflows the largest points
        ("setValueTr", [-1.7e308] * 7, 1.7e308),  # the shift itself is infinite
        ("setValueAm", [1e-10] * 7, 1e300),  # the factor is infinite
        ("setValueAm", [1.0] + [1e300] * 6, 1e10),  # the factor overflows the largest points
    ],
)
def test_constraint_out_of_reach_is_refused(name, cpts, val):
    traj = trajectory(KNOTS, cpts, 3)
    refused(
        traj,
        lambda: getattr(traj, name)((0.0, val, 0)),
        ValueError,
        "the constraint cannot be met: a control point would overflow",
    )


def test_order_difference_must_fit_a_c_int():
    class Huge(Point1d):
        order = property(lambda self: 2**40)

    traj = trajectory(KNOTS, CPTS, 3)
    for name in METHODS:
        refused(traj, lambda: getattr(traj, name)(Huge(0.5, 1.0, 0)), OverflowError)


@pytest.mark.parametrize("name", METHODS)
@pytest.mark.parametrize(
    "point",
    [(5.0, 1.0, 0), (-1e-9, 1.0, 0), (float("nan"), 1.0, 0), (5.0, 1.0, 1), (float("nan"), 1.0, 1)],
)
def test_abscissa_outside_the_domain(name, point):
    traj = trajectory(KNOTS, CPTS, 3, order=1)
    if name == "setValueTr" and point[2] == 0:
        return  # refused for its order before t is read
    info = refused(traj, lambda: getattr(traj, name)(point), ValueError)
    assert str(info.value) == f"'x' out of domain: {point[0]!r}"


@pytest.mark.parametrize(
    "point, cpts",
    [
        ((1.0, 5.0, 0), [-1.0, 0.0, 1.0]),  # the value at t is 0
        ((0.5, 5.0, 1), [2.0, 2.0, 2.0]),  # the derivative is 0
    ],
)
def test_set_value_am_at_zero(point, cpts):
    traj = trajectory([0.0, 0.0, 1.0, 2.0, 2.0], cpts, 1)
    pt = Spy(*point)
    refused(traj, lambda: traj.setValueAm(pt), ZeroDivisionError, "float division by zero")
    assert pt.log == ["order", "t", "val"]


# --- the constraint is met ------------------------------------------------------------------------


def as_form(form, point):
    return point if form == "tuple" else Point1d(*point)


@pytest.mark.parametrize("form", ["tuple", "point"])
@pytest.mark.parametrize("t", [0.0, 0.5, 1.3, 2.0])
@pytest.mark.parametrize("order", [0, 2])
def test_set_value_tr_shifts_to_the_value(form, t, order):
    traj = trajectory(KNOTS, CPTS, 3, order=order)
    knots, cpts = knots_of(traj), cpts_of(traj)
    assert traj.setValueTr(as_form(form, (t, -3.25, order))) is None
    assert oracle.of(traj)(t) == pytest.approx(-3.25, abs=1e-12)
    shift = cpts_of(traj) - cpts
    assert np.allclose(shift, shift[0], rtol=0, atol=1e-12)
    assert (traj.p, traj.n, traj.order) == (3, 6, order)
    assert np.array_equal(knots_of(traj), knots)


@pytest.mark.parametrize("form", ["tuple", "point"])
@pytest.mark.parametrize(
    "t, d", [(t, d) for t in (0.0, 0.45, 1.3, 2.0) for d in (0, 1, 2, -1, -2) if t > 0.0 or d >= 0]
)  # antiderivatives start at 0
def test_set_value_am_scales_to_the_value(form, t, d):
    traj = trajectory(KNOTS, CPTS, 3, order=2)
    knots, cpts = knots_of(traj), cpts_of(traj)
    spline = oracle.of(traj)
    before = (spline.derivative(d) if d > 0 else spline.antiderivative(-d) if d < 0 else spline)(t)
    assert abs(before) > 1e-3
    assert traj.setValueAm(as_form(form, (t, 0.75, 2 + d))) is None
    assert np.allclose(cpts_of(traj), cpts * (0.75 / before), rtol=1e-12, atol=1e-12)
    after = oracle.of(traj)
    got = (after.derivative(d) if d > 0 else after.antiderivative(-d) if d < 0 else after)(t)
    assert got == pytest.approx(0.75, rel=1e-10)
    if d < 0:  # as the module itself integrates
        assert traj.antiderivative(-d).peval(t) == pytest.approx(0.75, rel=1e-10)
    assert (traj.p, traj.n, traj.order) == (3, 6, 2)
    assert np.array_equal(knots_of(traj), knots)


def test_set_value_am_to_zero_clears_the_control_points():
    traj = trajectory(KNOTS, CPTS, 3)
    pt = Spy(0.5, 0.0, 0)
    traj.setValueAm(pt)
    assert not cpts_of(traj).any()
    assert pt.log == ["order", "t", "val"]


# --- overrides ------------------------------------------------------------------------------------


class FixedEval(Trajectory1d):
    """dpeval answers 10 wherever it is asked, and remembers the questions."""

    def dpeval(self, x, nu=1):
        self.asked.append((x, nu))
        return 10.0


class FixedPeval(Trajectory1d):
    def peval(self, x):
        return 4.0


class OwnAnti(Trajectory1d):
    def antiderivative(self, nu=1):
        self.asked.append(nu)
        return self.answer


def test_dpeval_override_is_honoured():
    traj = trajectory(KNOTS, CPTS, 3, cls=FixedEval)
    traj.asked = []
    cpts = cpts_of(traj)
    traj.setValueTr((0.5, 12.0, 0))
    assert np.array_equal(cpts_of(traj), cpts + 2.0)
    traj.setValueAm(Point1d(0.25, 5.0, 1))
    assert np.array_equal(cpts_of(traj), (cpts + 2.0) * 0.5)
    assert traj.asked == [(0.5, 0), (0.25, 1)]


def test_antiderivative_override_and_peval_of_its_result_are_honoured():
    traj = trajectory(KNOTS, CPTS, 3, order=2, cls=OwnAnti)
    traj.asked, traj.answer = [], trajectory(KNOTS, CPTS, 3, cls=FixedPeval)
    cpts = cpts_of(traj)
    traj.setValueAm((0.5, 2.0, 0))
    assert np.array_equal(cpts_of(traj), cpts * 0.5)
    assert traj.asked == [2]
    traj.answer = None
    refused(
        traj,
        lambda: traj.setValueAm((0.5, 2.0, 1)),
        AttributeError,
        "'NoneType' object has no attribute 'peval'",
    )


@pytest.mark.parametrize("name", METHODS)
@pytest.mark.parametrize("form", ["point", "tuple"])
def test_table_entries_honour_method_overrides(name, form):
    class Own(Trajectory1d):
        pass

    seen = []
    setattr(Own, name, lambda self, p: seen.append(p))
    entry = method_table.entry(f"{name}_{form}")
    traj = trajectory(KNOTS, CPTS, 3, order=1, cls=Own)
    arg = as_form(form, (float("nan"), 1.0, 0 if name == "setValueTr" else 3))
    assert entry(traj, arg, 0) == 0 and seen == [arg]
    # With overrides skipped, the built-in runs (and refuses this constraint).
    with pytest.raises(ValueError, match="n-th antiderivative|out of domain: nan"):
        entry(traj, arg, 1)
    assert seen == [arg]


@pytest.mark.parametrize("name", METHODS)
def test_table_entries_run_the_builtin_without_an_override(name):
    class Plain(Trajectory1d):
        pass

    entry = method_table.entry(f"{name}_tuple")
    traj = trajectory(KNOTS, CPTS, 3, cls=Plain)
    # The tuple entry itself sees the point (no detour through the dispatcher).
    refused(
        traj,
        lambda: entry(traj, Point1d(0.5, 1.0, 0), 0),
        TypeError,
        "Argument 'pnt' has incorrect type (expected tuple, got pyorvex.defdatastruct.Point1d)",
    )
