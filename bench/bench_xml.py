"""Saving and loading a large trajectory as XML, against numpy.savetxt + numpy.loadtxt of the same
two arrays written with round-trip precision.

    PYTHONPATH=<pkg dir> python3 bench/bench_xml.py [control points]

Prints the best of several runs of each and the ratio (numpy time / pyorvex time).
"""

import os
import sys
import tempfile
import time

import numpy as np

from pyorvex.defdatastruct import Trajectory1d


def make(n_cpts, p=3, seed=0):
    rng = np.random.default_rng(seed)
    inner = np.sort(rng.uniform(0.0, 100.0, n_cpts - p - 1))
    knots = np.concatenate([np.zeros(p + 1), inner, np.full(p + 1, 100.0)])
    cpts = rng.normal(size=n_cpts) * 10.0 ** rng.integers(-8, 8, n_cpts)
    t = Trajectory1d()
    t._dset_data(knots.tobytes(), cpts.tobytes(), p, n_cpts - 1, 0, True)
    return t, knots, cpts


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    n_cpts = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    repeat = 5
    t, knots, cpts = make(n_cpts)
    with tempfile.TemporaryDirectory() as d:
        doc = os.path.join(d, "bench.pyorvex")
        txt_k = os.path.join(d, "knots.txt")
        txt_c = os.path.join(d, "cpts.txt")

        def ours():
            if os.path.exists(doc):
                os.remove(doc)
            t.savexml(doc, "big")
            back = Trajectory1d.loadxml(doc, "big")
            assert back.n == t.n

        def numpy_text():
            np.savetxt(txt_k, knots, fmt="%.17g")
            np.savetxt(txt_c, cpts, fmt="%.17g")
            k = np.loadtxt(txt_k)
            c = np.loadtxt(txt_c)
            assert k.size == knots.size and c.size == cpts.size

        def save_only():
            if os.path.exists(doc):
                os.remove(doc)
            t.savexml(doc, "big")

        def update_only():
            t.savexml(doc, "big")

        def load_only():
            Trajectory1d.loadxml(doc, "big")

        ours()
        back = Trajectory1d.loadxml(doc, "big")
        assert np.array_equal(back.get_knotvector_asarray().view(np.int64), knots.view(np.int64))
        assert np.array_equal(back.get_cpts_asarray().view(np.int64), cpts.view(np.int64))

        t_ours = best(ours, repeat)
        t_save = best(save_only, repeat)
        t_update = best(update_only, repeat)
        t_load = best(load_only, repeat)
        t_np = best(numpy_text, max(2, repeat // 2))
        size = os.path.getsize(doc)
    print(f"control points:                 {n_cpts}")
    print(f"document size:                  {size / 1e6:.1f} MB")
    print(f"savexml (new document):         {t_save:.3f} s")
    print(f"savexml (update in place):      {t_update:.3f} s")
    print(f"loadxml:                        {t_load:.3f} s")
    print(f"save + load (pyorvex):          {t_ours:.3f} s")
    print(f"savetxt + loadtxt (numpy):      {t_np:.3f} s")
    print(f"ratio numpy / pyorvex:          {t_np / t_ours:.1f}x")


if __name__ == "__main__":
    main()
