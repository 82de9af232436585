"""Runs every operation family of tests/leak_cycles.py under valgrind's memcheck and reports the
memory errors and definite leaks that belong to pyorvex.

    PYTHONPATH=<package dir> python3 scripts/memcheck.py [REPEATS] [FAMILY ...]

REPEATS (cycles per family, 30 by default) is small: memcheck runs some fifty times slower, and
every path of a family is walked in each cycle. The families run side by side, one per core.
The interpreter runs with PYTHONMALLOC=malloc, so that memcheck sees each object's own block.

The interpreter, NumPy and lxml report things of their own (import-time caches kept for the life
of the process, uninitialised reads in their module setup). A report is pyorvex's when one of our
extension modules appears in its stack before the first frame of the interpreter's evaluation
loop, that is, when our code made the call that failed or allocated the lost block, unless the
uninitialised value it follows is one the interpreter itself left (see
interpreter_false_positive). Exits 1 when any report is ours, and prints it.
"""

import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OURS = re.compile(r"(defdatastruct|curvekit)\.cpython")
EVAL_LOOP = re.compile(r"_PyEval_EvalFrameDefault|_PyEval_Vector")
HEADER = re.compile(r"^==\d+== ?(.*)$")


def reports(log):
    """The reports of a memcheck log, each as its list of lines (prefix stripped)."""
    current = []
    for line in log.splitlines():
        m = HEADER.match(line)
        text = m.group(1) if m else ""
        if not text.strip():
            if current:
                yield current
            current = []
        else:
            current.append(text)
    if current:
        yield current


def is_error_or_definite_leak(report):
    head = report[0]
    if "definitely lost in loss record" in head:
        return True
    return head.startswith(
        (
            "Invalid ",
            "Conditional jump",
            "Use of uninitialised",
            "Syscall param",
            "Mismatched free",
            "Source and destination",
        )
    )


def interpreter_false_positive(report):
    """CPython 3.11 reads the never-written digit of an int zero that PyLong_FromString made (and
    multiplies it by the size, 0); memcheck follows that value into whoever uses the int."""
    origin = [i for i, line in enumerate(report) if "Uninitialised value was created" in line]
    return bool(origin) and any("PyLong_FromString" in line for line in report[origin[0] :])


def ours(report):
    if any("_tracemalloc.c" in line for line in report):
        return False  # the tracing module's own records of a block, not the block
    if interpreter_false_positive(report):
        return False
    for line in report[1:]:
        if EVAL_LOOP.search(line):
            return False
        if OURS.search(line):
            return True
    return False


def run_family(python, family, repeats):
    with tempfile.NamedTemporaryFile("r", suffix=".log") as log:
        env = dict(os.environ, PYTHONMALLOC="malloc")
        done = subprocess.run(
            [
                "valgrind",
                "--tool=memcheck",
                "--leak-check=full",
                "--show-leak-kinds=definite",
                "--track-origins=yes",
                "--num-callers=40",
                f"--log-file={log.name}",
                python,
                os.path.join(ROOT, "tests", "leak_cycles.py"),
                family,
                str(repeats),
            ],
            env=env,
            capture_output=True,
            text=True,
        )
        text = log.read()
    if done.returncode != 0:
        sys.exit(f"{family}: the cycles failed under memcheck:\n{done.stderr}")
    found = [r for r in reports(text) if is_error_or_definite_leak(r)]
    summary = re.search(r"ERROR SUMMARY: (\d+) errors", text)
    return found, int(summary.group(1)) if summary else -1, done.stdout.strip()


def main(argv):
    repeats = int(argv[1]) if len(argv) > 1 else 30
    sys.path.insert(0, os.path.join(ROOT, "tests"))
    import leak_cycles

    families = argv[2:] or list(leak_cycles.FAMILIES)
    python = sys.executable  # the interpreter itself (a venv's link to it keeps the venv)
    failed = False
    # Each family is a valgrind process of its own, which uses one core: they run side by side,
    # one per core, and are reported in their order.
    workers = max(1, min(len(families), os.cpu_count() or 1))
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        runs = [pool.submit(run_family, python, family, repeats) for family in families]
        results = [run.result() for run in runs]
    for family, (found, total, cycles) in zip(families, results):
        mine = [r for r in found if ours(r)]
        print(
            json.dumps(
                {
                    "family": family,
                    "memcheck_errors": total,
                    "reports_in_pyorvex": len(mine),
                    "others": len(found) - len(mine),
                }
            ),
            flush=True,
        )
        for r in mine:
            failed = True
            print("\n".join(r[:25]) + "\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
