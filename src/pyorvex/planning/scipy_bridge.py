"""To and from ``scipy.interpolate.BSpline``. scipy is imported here only, when called."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np

from .._factory import make_trajectory
from ..defdatastruct import Trajectory1d
from ._arguments import spline_of

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


def to_scipy(traj: Trajectory1d) -> BSpline:
    """The same spline as a ``scipy.interpolate.BSpline`` (copies of the knots and control
    points, the degree as k) that does not extrapolate beyond the domain."""
    bspline = _bspline_class()
    s = spline_of(traj)
    return bspline(s.knots, s.cpts, s.p, extrapolate=False)


def from_scipy(spline: BSpline, order: int = 0) -> Trajectory1d:
    """A new trajectory from a ``scipy.interpolate.BSpline`` with one-dimensional coefficients:
    its knots ``t``, degree ``k`` and the first ``len(t) - k - 1`` coefficients (scipy may pad
    ``c`` beyond them). `order` is the derivative order the trajectory describes. Errors as for
    :func:`pyorvex.make_trajectory`, and ValueError for coefficients of more than one dimension
    or fewer than the knots need."""
    bspline = _bspline_class()
    if not isinstance(spline, bspline):
        raise TypeError(
            f"'spline' must be a scipy.interpolate.BSpline, got {type(spline).__name__}"
        )
    t = np.asarray(spline.t)
    c = np.asarray(spline.c)
    k = int(spline.k)
    if c.ndim != 1:
        raise ValueError(f"'spline' must have one-dimensional coefficients, got shape {c.shape}")
    n = t.size - k - 1
    if n < 1 or c.size < n:
        raise ValueError(
            f"'spline' has {c.size} coefficients where its {t.size} knots and degree {k} "
            f"need {max(n, 1)}"
        )
    return make_trajectory(t, c[:n], k, order)
