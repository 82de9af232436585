"""Large arrays are evaluated in fixed chunks shared among threads: the results are the same bit
for bit whatever the number of threads, each row is the value at its own abscissa, and the order
and domain checks hold across the chunks' borders."""

import pickle
import subprocess
import sys

import numpy as np
import pytest
from support.child_env import child_env

from pyorvex import make_trajectory

CHUNK = 1 << 16  # the chunks' length, from 2**18 points on
M = 5 * CHUNK + 123

RESULTS = f"""
import pickle, sys
import numpy as np
from pyorvex import make_trajectory
rng = np.random.default_rng(5)
def spline(n, dof=None):
    knots = np.r_[[0.0] * 4, np.sort(rng.uniform(0, 10, n - 3)), [10.0] * 4]
    return make_trajectory(knots, rng.normal(size=(n + 1,) if dof is None else (n + 1, dof)), 3)
coarse, fine, motion = spline(40), spline(20000), spline(300, 4)
x = np.linspace(0.0, 10.0, {M})
out = {{"call": coarse(x), "slope": fine(x, 1), "motion": motion(x), "rates": motion(x, 2)}}
for name, t in (("ceval coarse", coarse), ("ceval fine", fine)):
    out[name] = x.copy()
    t.ceval(out[name])
sys.stdout.buffer.write(pickle.dumps(out))
"""


def results(threads):
    done = subprocess.run(
        [sys.executable, "-c", RESULTS],
        env=child_env(PYORVEX_THREADS=str(threads)),
        capture_output=True,
        check=True,
    )
    return pickle.loads(done.stdout)


def test_the_same_results_with_one_thread_as_with_several():
    one, several = results(1), results(4)
    x = np.linspace(0.0, 10.0, M)
    for name, values in one.items():
        assert np.array_equal(values, several[name]), name
        assert len(values) == M and np.isfinite(values).all(), name
    # each row belongs to its own abscissa, next to every border too
    rng = np.random.default_rng(5)
    knots = np.r_[[0.0] * 4, np.sort(rng.uniform(0, 10, 37)), [10.0] * 4]
    coarse = make_trajectory(knots, rng.normal(size=41), 3)
    for i in [0, CHUNK - 1, CHUNK, 2 * CHUNK, 4 * CHUNK + 1, M - 1]:
        assert one["call"][i] == pytest.approx(coarse(x[i]), abs=1e-12)
        assert one["ceval coarse"][i] == pytest.approx(coarse(x[i]), abs=1e-12)


def motion_and_axis():
    knots = np.r_[[0.0] * 4, np.linspace(0.5, 9.5, 30), [10.0] * 4]
    cpts = np.cos(np.arange(34 * 2)).reshape(34, 2)
    return make_trajectory(knots, cpts, 3), make_trajectory(knots, cpts[:, 1], 3)


@pytest.mark.parametrize("kind", ["axis", "motion"])
@pytest.mark.parametrize(
    "defect, error",
    [
        ("swap", None),  # the unordered route, each value at its own abscissa
        ("repeat", "'xp' must be increasing"),
        ("nan", "domain error"),
        ("beyond", "domain error"),
    ],
)
def test_checks_hold_across_the_borders_of_chunks(kind, defect, error):
    motion, axis = motion_and_axis()
    t = motion if kind == "motion" else axis
    x = np.linspace(0.0, 10.0, M)
    at = 3 * CHUNK  # the first abscissa of a chunk
    if defect == "swap":
        x[at - 1], x[at] = x[at], x[at - 1]
    elif defect == "repeat":
        x[at] = x[at - 1]
    elif defect == "nan":
        x[at] = np.nan
    else:
        x[at:] += 10.0
    if error is not None:
        with pytest.raises(ValueError, match=error):
            t(x)
        return
    y = t(x)
    for i in (at - 1, at, M - 1):
        assert np.allclose(y[i], t(x[i]), rtol=0, atol=1e-12)
