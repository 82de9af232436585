"""A trapezoidal velocity profile: integrate it to positions, check its limits, sample it.

python examples/velocity_profile.py
"""

import numpy as np
import numpy.typing as npt

from pyorvex import make_trajectory
from pyorvex.defdatastruct import Trajectory1d


def trapezoid(v_max: float, t_ramp: float, t_total: float) -> Trajectory1d:
    """Velocity: ramp up to v_max in t_ramp, cruise, ramp down to rest at t_total (degree 1)."""
    knots = [0.0, 0.0, t_ramp, t_total - t_ramp, t_total, t_total]
    return make_trajectory(knots, [0.0, v_max, v_max, 0.0], 1, order=1)


def main() -> None:
    velocity = trapezoid(v_max=0.5, t_ramp=0.4, t_total=2.0)
    position = velocity.antiderivative()  # order 1 -> 0, degree 1 -> 2
    acceleration = velocity.derivative()  # order 1 -> 2, piecewise constant
    t: npt.NDArray[np.float64] = np.linspace(position.start, position.stop, 9)
    print(f"{'t [s]':>6} {'x [m]':>8} {'v [m/s]':>8} {'a [m/s^2]':>10}")
    for ti, xi, vi in zip(t, position(t), velocity(t)):
        print(f"{ti:6.2f} {xi:8.4f} {vi:8.4f} {acceleration(float(ti)):10.4f}")
    distance = position(position.stop) - position(position.start)
    print(f"distance {distance:.4f} m = v_max * (t_total - t_ramp) = {0.5 * (2.0 - 0.4):.4f} m")


if __name__ == "__main__":
    main()
