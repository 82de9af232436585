"""retime_optimal: the path kept, the limits exact on the result's peaks, the ends at the speeds
asked, shorter than the uniform stretch; the uniform retime and dense sampling are the oracles."""

import numpy as np
import pytest

from pyorvex import TrajectoryNd, interpolate, make_trajectory, peak, retime, retime_optimal

SEEDS = range(6)


def problem(seed):
    """A path whose axis 0 is its own parameter s (so the result's axis 0 reads s(t) back), two
    more axes through random waypoints, and per-axis limits."""
    rng = np.random.default_rng(seed)
    times = np.cumsum(rng.uniform(0.3, 1.2, 7))
    curve = interpolate(times, rng.uniform(-2.0, 2.0, (7, 2)))
    ident = make_trajectory([times[0]] * 2 + [times[-1]] * 2, [times[0], times[-1]], 1)
    path = TrajectoryNd.from_axes([ident, *curve.axes()])
    return path, rng.uniform(0.5, 3.0, 3), rng.uniform(1.0, 9.0, 3)


def duration(traj):
    return traj.stop - traj.start


@pytest.mark.parametrize("seed", SEEDS)
def test_follows_the_path_with_s_never_decreasing(seed):
    path, v, a = problem(seed)
    motion = retime_optimal(path, v, a)
    ticks = np.linspace(motion.start, motion.stop, 4001)
    q = motion(ticks)
    s = q[:, 0]
    assert motion.start == path.start and motion.p == 2 * path.p
    assert np.all(np.diff(s) >= -1e-12) and abs(s[-1] - path.stop) < 1e-12
    np.testing.assert_allclose(q[:, 1:], path(np.clip(s, path.start, path.stop))[:, 1:], atol=1e-10)


@pytest.mark.parametrize("seed", SEEDS)
def test_limits_hold_on_exact_peaks_and_dense_samples_the_binding_one_exactly(seed):
    path, v, a = problem(seed)
    motion = retime_optimal(path, v, a)
    ratios = [np.abs(peak(motion, nu).value) / lim for nu, lim in ((1, v), (2, a))]
    assert max(r.max() for r in ratios) == pytest.approx(1.0, abs=1e-9)
    assert all(np.all(r <= 1.0) for r in ratios)
    ticks = np.linspace(motion.start, motion.stop, 20001)
    for nu, lim in ((1, v), (2, a)):
        assert np.all(np.abs(motion(ticks, nu)) <= lim * (1 + 1e-12))


@pytest.mark.parametrize("seed", SEEDS[:3])
@pytest.mark.parametrize("speed", [(0.0, 0.0), (0.05, 0.0), (0.0, 0.04), (0.03, 0.05)])
def test_ends_at_the_path_speeds_asked(seed, speed):
    path, v, a = problem(seed)
    motion = retime_optimal(path, v, a, speed=speed)
    for t, s, want in ((motion.start, path.start, speed[0]), (motion.stop, path.stop, speed[1])):
        np.testing.assert_allclose(motion(t, 1), path(s, 1) * want, rtol=1e-9, atol=1e-12)
    assert all(np.all(np.abs(peak(motion, nu).value) <= lim) for nu, lim in ((1, v), (2, a)))


@pytest.mark.parametrize("seed", SEEDS)
def test_shorter_than_the_uniform_stretch(seed):
    path, v, a = problem(seed)
    assert duration(retime_optimal(path, v, a)) < duration(retime(path, v, a))
    single = path.axis(1)
    one = retime_optimal(single, v[1], a[1])
    assert type(one) is type(single)
    assert duration(one) < duration(retime(single, v[1], a[1]))


def still():
    return make_trajectory([0.0, 0.0, 1.0, 2.0, 3.0, 3.0], [0.0, 1.0, 1.0, 2.0], 1)


@pytest.mark.parametrize(
    "args, kwargs, exc, message",
    [
        ((0.0, 1.0), {}, ValueError, "'velocity' must be positive"),
        ((1.0, float("nan")), {}, ValueError, "'acceleration' must be positive"),
        (([1.0, 2.0], 1.0), {}, ValueError, "one number or one per axis: 3 of them, got 2"),
        ((float("inf"), 1.0), {}, ValueError, "'velocity' must be finite"),
        (
            (1.0, 1.0, 1.0),
            {"speed": (0.1, 0.0)},
            ValueError,
            r"must be \(0, 0\), got \(0\.1, 0\.0\)$",
        ),
        ((1.0, 1.0, -1.0), {}, ValueError, "'jerk' must be positive"),
        ((1.0, 1.0), {"speed": (-1.0, 0.0)}, ValueError, "two finite path speeds"),
        ((1.0, 1.0), {"speed": (50.0, 0.0)}, ValueError, "no motion along the path meets"),
        ((1.0, 1.0), {"grid": 1}, ValueError, "'grid' must be between 2"),
    ],
)
def test_refuses(args, kwargs, exc, message):
    with pytest.raises(exc, match=message):
        retime_optimal(problem(0)[0], *args, **kwargs)


def test_refuses_a_path_that_stands_still_or_is_empty():
    with pytest.raises(ValueError, match=r"stands still over \[1.0, 2.0\]"):
        retime_optimal(still(), 1.0, 1.0)
    with pytest.raises(ValueError, match="holds no data"):
        retime_optimal(TrajectoryNd(), 1.0, 1.0)


def test_a_leg_shorter_than_a_grid_step_between_two_corners_is_passed_at_rest_at_both():
    # Legs of 1, 0.001 and 1 along alternate axes, each from rest to rest at acceleration 1.
    knots = [0.0, 0.0, 1.0, 1.001, 2.0, 2.0]
    legs = [make_trajectory(knots, c, 1) for c in ([0, 1, 1, 2], [0, 0, 1e-3, 1e-3])]
    motion = retime_optimal(legs, 1.0, 1.0)
    assert duration(motion) == pytest.approx(4.0 + 2.0 * 1e-3**0.5, rel=1e-10)


def test_plans_a_long_path_whose_last_grid_points_are_at_the_velocity_limit():
    # 127 spans of 2 segments each: the grid point before the rest at the end must keep moving.
    rng = np.random.default_rng(1000)
    times = np.cumsum(rng.uniform(0.5, 1.5, 128))
    path = interpolate(times, rng.uniform(-2.0, 2.0, (128, 6)))
    v, a = rng.uniform(1.0, 3.5, 6), rng.uniform(3.0, 9.0, 6)
    motion = retime_optimal(path, v, a)
    assert duration(motion) < duration(retime(path, v, a))
    assert all(np.all(np.abs(peak(motion, nu).value) <= lim) for nu, lim in ((1, v), (2, a)))


@pytest.mark.parametrize("times, values", [([0.0, 1.0], [0.0, 1.0]), ([0.0, 1.0, 2.0], [0, 1, 3])])
@pytest.mark.parametrize("v", [1e-3, 1e-4])
def test_plans_slow_limits_where_the_path_slows_into_its_rest_points(times, values, v):
    # Near a rest point of the path the velocity limit admits ever greater speeds, while the
    # segment before it holds them far lower: the speed asked there must stay within its reach.
    path = interpolate(times, values)
    motion = retime_optimal(path, v, 1.0)
    assert duration(motion) < duration(retime(path, v, 1.0))
    assert abs(peak(motion, 1).value) / v == pytest.approx(1.0, abs=1e-9)
    assert abs(peak(motion, 2).value) <= 1.0


@pytest.mark.parametrize("seed", SEEDS[:3])
def test_with_a_jerk_limit_every_limit_holds_exactly_on_the_path_from_rest_to_rest(seed):
    path, v, a = problem(seed)
    j = 5.0 * a
    motion = retime_optimal(path, v, a, j)
    ticks = np.linspace(motion.start, motion.stop, 20001)
    q = motion(ticks)
    assert np.all(np.diff(q[:, 0]) >= -1e-12)
    np.testing.assert_allclose(
        q[:, 1:], path(np.clip(q[:, 0], path.start, path.stop))[:, 1:], atol=1e-9
    )
    ratios = [np.abs(peak(motion, nu).value) / lim for nu, lim in ((1, v), (2, a), (3, j))]
    assert max(r.max() for r in ratios) == pytest.approx(1.0, abs=1e-9)
    assert all(np.all(r <= 1.0) for r in ratios)
    assert np.all(np.abs(motion(ticks, 3)) <= j * (1 + 1e-9))
    for t in (motion.start, motion.stop):
        np.testing.assert_allclose(np.stack([motion(t, 1), motion(t, 2)]), 0.0, atol=1e-9)
    assert duration(motion) < duration(retime(path, v, a, j))


def seven_phase(d, v, a, j):
    """The time-optimal rest-to-rest duration: ramps of acceleration min(a, sqrt(vp j)) up to the
    peak speed vp (v, or less when the ramps alone cover d), and a cruise for the rest."""

    def ramp(vp):
        ap = min(a, (vp * j) ** 0.5)
        return vp / ap + ap / j

    if v * ramp(v) <= d:
        return ramp(v) + d / v
    lo, hi = 0.0, v
    for _ in range(100):
        lo, hi = (
            ((lo + hi) / 2, hi) if (lo + hi) / 2 * ramp((lo + hi) / 2) < d else (lo, (lo + hi) / 2)
        )
    return 2.0 * ramp(lo)


@pytest.mark.parametrize(
    "d, v, a, j",
    [(10.0, 1.0, 1.0, 1.0), (1.0, 2.0, 1.0, 10.0), (0.01, 2.0, 0.5, 10.0), (0.1, 2.0, 3.0, 10.0)],
)
def test_a_straight_line_with_a_jerk_limit_is_close_to_the_seven_phase_optimum(d, v, a, j):
    line = make_trajectory([0.0, 0.0, 1.0, 1.0], [0.0, d], 1)
    motion = retime_optimal(line, v, a, j)
    assert 1.0 - 1e-9 <= duration(motion) / seven_phase(d, v, a, j) <= 1.10
    assert motion(motion.stop) == pytest.approx(d, rel=1e-12)


def test_with_a_jerk_limit_a_knot_where_the_curvature_jumps_is_passed_at_rest():
    # A quadratic through a simple knot at s = 1: C1 there, its second derivative jumps.
    path = make_trajectory([0.0, 0.0, 0.0, 1.0, 2.0, 2.0, 2.0], [0.0, 0.0, 1.0, 1.0], 2)
    motion = retime_optimal(path, 1.0, 1.0, 1.0)
    ticks = np.linspace(motion.start, motion.stop, 200001)
    at_knot = ticks[np.argmin(np.abs(motion(ticks) - path(1.0)))]
    assert abs(motion(at_knot, 1)) < 1e-3 and abs(motion(at_knot, 2)) < 1e-2
