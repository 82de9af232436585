"""To and from ``scipy.interpolate.BSpline``. scipy is imported here only, when called."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Tuple

import numpy as np
import numpy.typing as npt

from .._factory import make_trajectory
from ..defdatastruct import Trajectory1d
from ._arguments import Spline, multiaxis_type, spline_of

if TYPE_CHECKING:
    from scipy.interpolate import BSpline


class ScipyMissing(ImportError):
    """The scipy bridge was called, but scipy (the ``scipy`` extra) is not installed."""

    def __init__(self) -> None:
        super().__init__(
            "the scipy bridge needs scipy, which is not installed; "
            "install the scipy extra: pip install 'pyorvex[scipy]'"
        )


def _bspline_class() -> Any:
    try:
        from scipy.interpolate import BSpline
    except ImportError:
        raise ScipyMissing() from None
    return BSpline


def _rows(s: Spline) -> npt.NDArray[np.float64]:
    """The control points as they are shaped: (n + 1, dof) for a multi-axis motion."""
    return s.cpts.reshape(-1, s.dof) if s.axes else s.cpts


def _type_of(s: Spline) -> Any:
    return multiaxis_type() if s.axes else Trajectory1d


def to_scipy(traj: Any) -> BSpline:
    """The same spline as a ``scipy.interpolate.BSpline`` (copies of the knots and control
    points, the degree as k) that does not extrapolate beyond the domain; a multi-axis motion
    gives coefficients of shape (n + 1, dof). An unclamped end is clamped first by knot
    insertion (the curve is the same), so that scipy evaluates it on the trajectory's whole
    domain, first knot to last."""
    bspline = _bspline_class()
    s = spline_of(traj)
    knots, cpts = _clamped(s)
    return bspline(knots, cpts, s.p, extrapolate=False)


def _clamped(s: Spline) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """The knots and control points of the same curve with both end knots of multiplicity
    exactly p + 1: scipy evaluates only between t[k] and t[n], while a trajectory is defined
    from its first knot to its last. Knot insertion keeps the curve; an end knot repeated more
    than p + 1 times carries basis functions that vanish everywhere, whose knots and control
    points go (scipy would otherwise take its base interval from them and read one of them at
    the end of the domain)."""
    p = s.p
    head = int(np.count_nonzero(s.knots == s.knots[0]))
    tail = int(np.count_nonzero(s.knots == s.knots[-1]))
    knots, cpts, cls = s.knots, _rows(s), _type_of(s)
    if head > p + 1 or tail > p + 1:
        lo, hi = max(head - p - 1, 0), max(tail - p - 1, 0)
        knots = knots[lo : knots.size - hi]
        cpts = cpts[lo : cpts.size - hi]
        head, tail = min(head, p + 1), min(tail, p + 1)
    if head > p and tail > p:
        return knots, cpts
    traj = make_trajectory(knots, cpts, p)
    if head <= p:
        traj = cls.knotins(traj, float(knots[0]), p + 1 - head)
    if tail <= p:
        traj = cls.knotins(traj, float(knots[-1]), p + 1 - tail)
    return np.array(cls.get_knotvector_asarray(traj)), np.array(cls.get_cpts_asarray(traj))


def from_scipy(spline: BSpline, order: int = 0) -> Any:
    """A new trajectory from a ``scipy.interpolate.BSpline``: its knots ``t``, degree ``k`` and
    the first ``len(t) - k - 1`` coefficients (scipy may pad ``c`` beyond them); coefficients of
    shape (n + 1, dof) give a multi-axis :class:`~pyorvex.TrajectoryNd`. `order` is the
    derivative order the trajectory describes. Errors as for :func:`pyorvex.make_trajectory`,
    and ValueError for coefficients of more than two dimensions or fewer than the knots need. The trajectory's domain is scipy's base interval,
    ``t[k]`` to ``t[n]``: where the knots run beyond it, both ends are clamped there (the curve
    on the interval is the same)."""
    bspline = _bspline_class()
    if not isinstance(spline, bspline):
        raise TypeError(
            f"'spline' must be a scipy.interpolate.BSpline, got {type(spline).__name__}"
        )
    t = np.asarray(spline.t)
    c = np.asarray(spline.c)
    k = int(spline.k)
    if c.ndim not in (1, 2):
        raise ValueError(
            f"'spline' must have coefficients of one or two dimensions, got shape {c.shape}"
        )
    n = t.size - k - 1
    if n < 1 or c.shape[0] < n:
        raise ValueError(
            f"'spline' has {c.shape[0]} coefficients where its {t.size} knots and degree {k} "
            f"need {max(n, 1)}"
        )
    if k < 0 or t.ndim != 1 or t.size < 2 * k + 2:
        return make_trajectory(t, c[:n], k, order)  # make_trajectory says what is wrong
    traj = make_trajectory(t, c[:n], k, order)
    return _restricted(traj, float(t[k]), float(t[n]))


def _restricted(traj: Any, a: float, b: float) -> Any:
    """The trajectory on [a, b] only: scipy's spline is the curve between t[k] and t[n], while
    the trajectory of the same knots would also take in the knots beyond. Each end is clamped by
    knot insertion, and the basis functions that vanish on [a, b] are dropped with their knots."""
    s = spline_of(traj)
    if s.knots[0] == a and s.knots[-1] == b:
        return traj
    for u in (a, b):
        have = int(np.count_nonzero(s.knots == u))
        if have <= s.p:
            traj = _type_of(s).knotins(traj, u, s.p + 1 - have)
            s = spline_of(traj)
    first = int(np.flatnonzero(s.knots == a)[0])
    last = int(np.flatnonzero(s.knots == b)[-1])
    return make_trajectory(s.knots[first : last + 1], _rows(s)[first : last - s.p], s.p, s.order)
