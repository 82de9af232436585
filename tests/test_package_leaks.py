"""Memory stays flat when every operation family, with all of its error paths, runs thousands of
times: after a warm-up neither the resident memory nor the interpreter's count of allocated
blocks may grow. Each family runs in a fresh interpreter (tests/leak_cycles.py)."""

import json
import os
import subprocess
import sys

import leak_cycles
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))

# A leak of one small object per cycle shows up as at least one block per cycle in every
# stretch, twice the margin; a leak of a large record's arrays (24 KiB each) as far more resident
# memory than the margin. The caches of the interpreter and of the XML library settle slowly
# (a few blocks per hundred cycles late into a run, more on slow machines) and stay below both.
MAX_BLOCKS_PER_CYCLE = 0.5
MAX_RSS_GROWTH = 1 << 20


def run_family(family):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [HERE]
        + [p for p in env.get("PYTHONPATH", "").split(os.pathsep) if p]
        + [p for p in sys.path if p]
    )
    if "ASAN_OPTIONS" in env:
        # freed memory must be reused at once, or the quarantine looks like growth
        env["ASAN_OPTIONS"] += ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0"
    out = subprocess.run(
        [sys.executable, os.path.join(HERE, "leak_cycles.py"), family],
        env=env,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert out.returncode == 0, out.stderr[-4000:]
    return json.loads(out.stdout.strip().splitlines()[-1])


@pytest.mark.parametrize("family", sorted(leak_cycles.FAMILIES))
def test_memory_stays_flat(family):
    result = run_family(family)
    if "missing" in result:
        pytest.skip(f"{family}: the module has no {', '.join(result['missing'])}")
    cycles = result["cycles_per_window"]
    assert min(result["blocks_growth"]) <= max(20, MAX_BLOCKS_PER_CYCLE * cycles), result
    assert min(result["rss_growth"]) <= MAX_RSS_GROWTH, result
