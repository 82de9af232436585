"""Building a Trajectory1d (or a multi-axis TrajectoryNd) from its knot vector and control
points."""

from __future__ import annotations

from typing import TYPE_CHECKING, Sequence, Union, overload

import numpy as np

from ._checks import check_order, integer, real_array, require_finite, vector

if TYPE_CHECKING:
    import numpy.typing as npt

    from .defdatastruct import Trajectory1d
    from .multiaxis import TrajectoryNd


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

    p = integer(p, "p")
    order = integer(order, "order")
    if p < 0:
        raise ValueError(f"the degree 'p' must be non-negative, got {p}")
    check_order(order)
    knots = vector(knots, "knots")
    cpts = real_array(cpts, "cpts")
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
    require_finite(knots, "knots")
    drops = np.flatnonzero(np.diff(knots) < 0)
    if drops.size:
        i = int(drops[0]) + 1
        raise ValueError(
            f"'knots' must be non-decreasing: knots[{i}] = {knots[i]} < knots[{i - 1}] = {knots[i - 1]}"
        )
    if not knots[0] < knots[-1]:
        raise ValueError(f"the domain [knots[0], knots[-1]] = [{knots[0]}, {knots[-1]}] is empty")
    require_finite(cpts, "cpts")
    if cpts.ndim == 2:
        from .multiaxis import TrajectoryNd

        return TrajectoryNd._from_arrays(knots, cpts, p, order)
    return build_trajectory(knots, cpts, p, order)


def build_trajectory(
    knots: npt.NDArray[np.float64], cpts: npt.NDArray[np.float64], p: int, order: int
) -> Trajectory1d:
    """A trajectory owning copies of arrays already known to make one (the checks of
    make_trajectory done, or guaranteed by the routine that computed them)."""
    from .defdatastruct import Trajectory1d

    traj = Trajectory1d()
    traj._dset_data(knots.tobytes(), cpts.tobytes(), p, cpts.size - 1, order, True)
    return traj
