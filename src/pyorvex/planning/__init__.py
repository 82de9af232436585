"""The planning toolkit: profiles through waypoints, exact peaks, retiming to limits, sampling.

Every function takes and returns :class:`~pyorvex.defdatastruct.Trajectory1d` objects (and
multi-axis :class:`~pyorvex.TrajectoryNd` motions) as they are; the numerics run in the package's B-spline kernel. Each one gives the exact answer or
raises ValueError (TypeError for an argument of the wrong kind) and changes none of its inputs.

- :func:`interpolate` -- the spline of degree p through waypoints, with end derivatives.
- :func:`from_scipy`, :func:`to_scipy` -- to and from ``scipy.interpolate.BSpline``.
- :func:`extrema`, :func:`peak` -- least, greatest and largest absolute value of a derivative
  over the whole domain, with where they are taken.
- :func:`retime` -- the axes of a motion stretched in time by one factor so that velocity,
  acceleration and jerk limits hold, the binding one with equality.
- :func:`retime_optimal` -- the shortest motion along a path within velocity and acceleration
  limits: the path kept exactly, the speed along it planned.
- :func:`sample`, :func:`derivatives` -- values and derivatives on a control-rate grid or at
  any abscissae, in one pass.
- :func:`limits_report` -- the peaks of velocity, acceleration and jerk against limits, and the
  factor :func:`retime` would stretch time by (what ``pyorvex limits`` prints).

Each of them takes a multi-axis :class:`~pyorvex.TrajectoryNd` as well, axis by axis (limits
are then one number for every axis or one per axis).
"""

from .limits import LimitRow, LimitsReport, limits_report
from .optimal import retime_optimal
from .peaks import Extrema, Peak, extrema, peak
from .retiming import retime, time_scale
from .sampling import derivatives, sample
from .scipy_bridge import from_scipy, to_scipy
from .waypoints import interpolate

__all__ = [
    "Extrema",
    "Peak",
    "derivatives",
    "extrema",
    "from_scipy",
    "interpolate",
    "LimitRow",
    "LimitsReport",
    "limits_report",
    "peak",
    "retime",
    "retime_optimal",
    "sample",
    "time_scale",
    "to_scipy",
]
