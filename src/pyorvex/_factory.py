"""Building a Trajectory1d from its knot vector and control points."""

from __future__ import annotations

import numbers
import operator
from typing import TYPE_CHECKING, Any, Sequence, Union, overload

import numpy as np

if TYPE_CHECKING:
    import numpy.typing as npt

    from .defdatastruct import Trajectory1d
    from .multiaxis import TrajectoryNd

_UINT_MAX = 2**32 - 1


# Rows of numbers give a multi-axis motion; anything else is typed as the one-axis trajectory it
# usually is (an array's dimensions are not known to the type checker).
@overload
def make_trajectory(  # type: ignore[overload-overlap]
    knots: npt.ArrayLike, cpts: Sequence[Sequence[float]], p: int, order: int = 0
) -> TrajectoryNd: ...
@overload
def make_trajectory(
    knots: npt.ArrayLike, cpts: npt.ArrayLike, p: int, order: int = 0
) -> Trajectory1d: ...
def make_trajectory(
    knots: npt.ArrayLike, cpts: npt.ArrayLike, p: int, order: int = 0
) -> Union[Trajectory1d, TrajectoryNd]:
    """Build a trajectory from its knot vector and control points.

    Parameters
    ----------
    knots : array_like
        The knot vector: ``len(cpts) + p + 1`` finite, non-decreasing values. The domain of the
        trajectory is ``[knots[0], knots[-1]]`` and must not be empty.
    cpts : array_like
        The control points: at least one, all finite. A two-dimensional array of shape
        ``(n + 1, dof)`` holds one column per axis and gives a ``TrajectoryNd``.
    p : int
        Degree of the B-spline, non-negative.
    order : int, optional
        Derivative order the trajectory describes: 0 position (default), 1 velocity,
        2 acceleration, 3 jerk, ...

    Returns
    -------
    Trajectory1d or TrajectoryNd
        A new trajectory (a motion of ``dof`` axes for two-dimensional ``cpts``) that owns
        copies of both arrays; changing the inputs afterwards does not change it.

    Raises
    ------
    TypeError
        ``p`` or ``order`` is not an integer, or the arrays hold complex or non-numeric values.
    ValueError
        An array that is not one-dimensional, the wrong number of knots for the control points
        and the degree, knots or control points that are not finite, knots that decrease, an
        empty domain, a negative degree or order.
    OverflowError
        ``order`` beyond 4294967295.

    Notes
    -----
    The knot vector need not be clamped: a trajectory is defined over its whole knot vector,
    first knot to last.
    """

    p = _integer(p, "p")
    order = _integer(order, "order")
    if p < 0:
        raise ValueError(f"the degree 'p' must be non-negative, got {p}")
    _check_order(order)
    knots = _vector(knots, "knots")
    cpts = _real_array(cpts, "cpts")
    if cpts.ndim == 2 and cpts.shape[1] == 0:
        raise ValueError("'cpts' of shape (n + 1, dof) must have at least one axis (dof >= 1)")
    if cpts.ndim not in (1, 2):
        raise ValueError(
            f"'cpts' must have one dimension, or two for several axes, got {cpts.ndim} dimensions"
        )
    cpts = np.ascontiguousarray(cpts, dtype=np.float64)
    rows = cpts.shape[0]
    if rows == 0:
        raise ValueError("'cpts' must hold at least one control point")
    if knots.size != rows + p + 1:
        raise ValueError(
            f"a degree-{p} trajectory with {rows} control points needs "
            f"{rows + p + 1} knots (len(cpts) + p + 1), got {knots.size}"
        )
    _require_finite(knots, "knots")
    drops = np.flatnonzero(np.diff(knots) < 0)
    if drops.size:
        i = int(drops[0]) + 1
        raise ValueError(
            f"'knots' must be non-decreasing: knots[{i}] = {knots[i]} < knots[{i - 1}] = {knots[i - 1]}"
        )
    if not knots[0] < knots[-1]:
        raise ValueError(f"the domain [knots[0], knots[-1]] = [{knots[0]}, {knots[-1]}] is empty")
    _require_finite(cpts, "cpts")
    if cpts.ndim == 2:
        from .multiaxis import TrajectoryNd

        return TrajectoryNd._from_arrays(knots, cpts, p, order)
    return _trajectory(knots, cpts, p, order)


def _check_order(order: int) -> None:
    if order < 0:
        raise ValueError(f"'order' must be non-negative, got {order}")
    if order > _UINT_MAX:
        raise OverflowError(f"'order' must be at most {_UINT_MAX}, got {order}")


def _trajectory(
    knots: npt.NDArray[np.float64], cpts: npt.NDArray[np.float64], p: int, order: int
) -> Trajectory1d:
    """A trajectory owning copies of arrays already known to make one (the checks of
    make_trajectory done, or guaranteed by the routine that computed them)."""
    from .defdatastruct import Trajectory1d

    traj = Trajectory1d()
    traj._dset_data(knots.tobytes(), cpts.tobytes(), p, cpts.size - 1, order, True)
    return traj


def _integer(value: object, name: str) -> int:
    if isinstance(value, bool):
        raise TypeError(f"'{name}' must be an integer, got bool")
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"'{name}' must be an integer, got {type(value).__name__}") from None


def _require_finite(values: npt.NDArray[Any], name: str) -> None:
    if not np.all(np.isfinite(values)):
        bad = tuple(int(i) for i in np.argwhere(~np.isfinite(values))[0])
        where = ", ".join(map(str, bad))
        raise ValueError(f"'{name}' must be finite: {name}[{where}] = {values[bad]}")


def _vector(values: npt.ArrayLike, name: str) -> npt.NDArray[Any]:
    arr = _real_array(values, name)
    if arr.ndim != 1:
        raise ValueError(f"'{name}' must be one-dimensional, got {arr.ndim} dimensions")
    return np.ascontiguousarray(arr, dtype=np.float64)


def _real_array(values: npt.ArrayLike, name: str) -> npt.NDArray[Any]:
    arr = np.asarray(values)
    if arr.dtype.kind == "O":  # Python numbers of other kinds (Fraction, Decimal, ...); not None
        flat = arr.ravel()
        for i, v in enumerate(flat):
            if not isinstance(v, numbers.Real):
                raise TypeError(f"'{name}' must hold real numbers, got {v!r} at index {i}")
        arr = np.array([float(v) for v in flat], dtype=np.float64).reshape(arr.shape)
    elif arr.dtype.kind not in "biuf":
        raise TypeError(f"'{name}' must hold real numbers, got an array of dtype {arr.dtype}")
    return arr
