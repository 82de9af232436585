"""Inputs that broke the module under tests/fuzz/fuzz_objects.py, kept as tests.

Several of them let Python code run while the module works on a trajectory (numpy looked up in
the module's globals, overrides, properties) and give the trajectory new arrays there; the
module must go on with the arrays the trajectory has then, never with the ones it freed. Under
the sanitizer build such a read is reported as a use after free; elsewhere it gives values of
the old arrays, which the tests tell apart from the right ones."""

import numpy as np
from support.trajectories import clamped_knots, trajectory

import pyorvex.defdatastruct as dds


def clamped(count, a, b, p=3):
    interior = np.linspace(a, b, count - p + 1)[1:-1]
    return trajectory(
        clamped_knots(interior, p, a, b), np.cos(np.arange(count, dtype=np.float64)), p
    )


class NumpyThatReplaces:
    """Stands in for the module's global np; its empty() first gives `victim` the arrays of
    `source`."""

    def __init__(self, victim, source):
        self.victim, self.source = victim, source

    def __getattr__(self, name):
        return getattr(np, name)

    def empty(self, *args, **kwargs):
        s = self.source
        self.victim._dset_data(s._sget_knotvector(), s._sget_cpts(), s.p, s.n, 0, True)
        return np.empty(*args, **kwargs)


def test_get_xcpts_reads_the_knots_given_while_it_made_its_result(monkeypatch):
    # Same sizes, so the result array asked for fits either record; the old knots lie in [0, 1],
    # the new ones in [5, 7].
    t, new = clamped(2000, 0.0, 1.0), clamped(2000, 5.0, 7.0)
    expected = new.get_xcpts()
    monkeypatch.setattr(dds, "np", NumpyThatReplaces(t, new))
    got = t.get_xcpts()
    monkeypatch.undo()
    assert np.array_equal(got, expected)
    assert np.array_equal(t.get_xcpts(), expected)


def test_get_xcpts_refuses_a_result_that_no_longer_fits(monkeypatch):
    t = clamped(50, 0.0, 1.0)
    monkeypatch.setattr(dds, "np", NumpyThatReplaces(t, clamped(80, 0.0, 1.0)))
    try:
        t.get_xcpts()
    except ValueError:
        pass
    else:
        raise AssertionError("an array of the old size was accepted for the new record")
    monkeypatch.undo()
    assert t.n == 79 and t.get_xcpts().size == 80
