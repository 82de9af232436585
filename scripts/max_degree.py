"""Where the kernel's accuracy breaks as the degree grows: the measurement behind its maximum degree.

    PYTHONPATH=<package dir> python3 scripts/max_degree.py [DEGREE ...]

For each degree d, well-scaled splines (coefficients uniform in [-1, 1], knots on [0, 1]) are put
through every kernel operation that produces or evaluates degree d, at 40 random abscissae:

  on one polynomial piece (the widest basis a degree allows), against the same quantity in
  50-digit arithmetic (mpmath, the Bernstein form of the piece):
    value, d/dx      evaluation of the values and of the first derivative, t(x) and t(x, 1)
    derivative       t.derivative()(x), of a piece of degree d + 1
    antideriv.       t.antiderivative()(x), of a piece of degree d - 1
    elev d/2         degree d from d/2 (the widest binomial weights of a Bezier piece)
  on a spline of ten uniform spans, against the package's own evaluation of the input (exact to
  rounding, as the first columns show):
    spans elev 1     degree d from d - 1
    spans elev d/2   degree d from d/2
    knotins          t.knotins(0.35, 1)
    knotrem          a knot inserted at 0.35 and removed again with a tolerance of 1e-12 (the
                     bound of a removal grows with the degree at a place like this one, where
                     the removal is ill-conditioned, and the knot is then kept: correct either
                     way; above degree 48 or so the knot of this row is kept)
    sum              t + t.knotins(0.75, 1), against twice the value

Each error is divided by the largest coefficient of the exact result, so 1e-16 is the rounding
of one operation. The last line names the largest degree measured at which every error is
below 1e-12. Degrees above the package's maximum are refused (ValueError); to measure beyond it,
build the kernel with a larger kMaxDegree (src/kernel/bspline.hpp). This is a measurement, not a
test: it asserts nothing.
"""

import sys

import mpmath as mp
import numpy as np

from pyorvex.defdatastruct import Trajectory1d

mp.mp.dps = 50
LIMIT = 1e-12
DEFAULT_DEGREES = [8, 64, 256, 512, 768, 896, 960, 1000, 1024, 1040, 1100, 1280, 1536, 2048]


def bezier(cpts, order=0):
    t = Trajectory1d()
    p = len(cpts) - 1
    knots = np.r_[np.zeros(p + 1), np.ones(p + 1)]
    t._dset_data(knots.tobytes(), np.asarray(cpts, float).tobytes(), p, p, order, True)
    return t


class Exact:
    """A polynomial in Bernstein form with mpmath coefficients."""

    def __init__(self, coefs):
        self.c = [mp.mpf(c) for c in coefs]

    def __call__(self, xs):
        p = len(self.c) - 1
        out = []
        for x in xs:
            x = mp.mpf(x)
            # sum c_i C(p, i) x^i (1 - x)^(p - i), the terms built one from the other; in 50
            # digits the cancellation between them costs nothing that matters here.
            term, ratio, total = (1 - x) ** p, x / (1 - x), mp.mpf(0)
            for i, c in enumerate(self.c):
                total += c * term
                term *= ratio * (p - i) / (i + 1)
            out.append(total)
        return out

    def derivative(self):
        p = len(self.c) - 1
        return Exact([p * (self.c[i + 1] - self.c[i]) for i in range(p)])

    def antiderivative(self):
        p = len(self.c) - 1
        acc, out = mp.mpf(0), [mp.mpf(0)]
        for c in self.c:
            acc += c / (p + 1)
            out.append(acc)
        return Exact(out)

    def scale(self):
        return max(abs(c) for c in self.c)


def error(got, exact):
    scale = exact.scale()
    worst = 0.0
    for g, e in zip(got, exact(XS)):
        if not np.isfinite(g):
            return float("inf")
        worst = max(worst, float(abs(mp.mpf(g) - e) / scale))
    return worst


def spans(cpts, p):
    """A clamped spline of degree p on ten uniform spans."""
    knots = np.r_[np.zeros(p + 1), np.arange(1, 10) / 10, np.ones(p + 1)]
    t = Trajectory1d()
    t._dset_data(knots.tobytes(), np.asarray(cpts, float).tobytes(), p, len(cpts) - 1, 0, True)
    return t


def against(got, t, factor=1.0):
    """Error of got against factor * t on XS, relative to t's largest coefficient."""
    want = factor * t(XS)
    if not np.all(np.isfinite(got)):
        return float("inf")
    return float(np.max(np.abs(got - want)) / (abs(factor) * np.max(np.abs(t.get_cpts_asarray()))))


def measure(d, rng):
    c = rng.uniform(-1.0, 1.0, d + 1)
    t, exact = bezier(c), Exact(c)
    half = rng.uniform(-1.0, 1.0, d // 2 + 1)
    below = rng.uniform(-1.0, 1.0, d)
    above = rng.uniform(-1.0, 1.0, d + 2)
    s = spans(rng.uniform(-1.0, 1.0, d + 10), d)
    s_below = spans(rng.uniform(-1.0, 1.0, d + 9), d - 1)
    s_half = spans(rng.uniform(-1.0, 1.0, d // 2 + 10), d // 2)
    cases = {
        "value": lambda: error(t(XS), exact),
        "d/dx": lambda: error(t(XS, 1), exact.derivative()),
        "derivative": lambda: error(bezier(above).derivative()(XS), Exact(above).derivative()),
        "antideriv.": lambda: error(
            bezier(below, order=1).antiderivative()(XS), Exact(below).antiderivative()
        ),
        "elev d/2": lambda: error(bezier(half).degelev(d - d // 2)(XS), Exact(half)),
        "spans elev 1": lambda: against(s_below.degelev(1)(XS), s_below),
        "spans elev d/2": lambda: against(s_half.degelev(d - d // 2)(XS), s_half),
        "knotins": lambda: against(s.knotins(0.35, 1)(XS), s),
        "knotrem": lambda: against(s.knotins(0.35, 1).knotrem(0.35, 1, 1e-12)(XS), s),
        "sum": lambda: against((s + s.knotins(0.75, 1))(XS), s, 2.0),
    }
    errors = {}
    for name, case in cases.items():
        try:
            errors[name] = case()
        except ValueError as exc:
            errors[name] = str(exc)
    return errors


def main():
    degrees = [int(a) for a in sys.argv[1:]] or DEFAULT_DEGREES
    rng = np.random.default_rng(2024)
    names = None
    good = None
    for d in degrees:
        errors = measure(d, rng)
        if names is None:
            names = list(errors)
            print(f"{'degree':>7} " + " ".join(f"{n:>14}" for n in names), flush=True)
        cells = [
            f"{e:14.1e}" if isinstance(e, float) else f"{'refused':>14}" for e in errors.values()
        ]
        print(f"{d:>7} " + " ".join(cells), flush=True)
        if all(isinstance(e, float) and e < LIMIT for e in errors.values()):
            if good is None or d > good:
                good = d
    print(f"largest degree measured with every error below {LIMIT:g}: {good}")


XS = np.sort(np.random.default_rng(1).uniform(0.0, 1.0, 40))

if __name__ == "__main__":
    main()
