import os

import pytest
from support.native import vtable_probe  # noqa: F401  (fixture)

SANITIZED = os.environ.get("PYORVEX_SANITIZED") == "1"


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: long-running test, skipped under the sanitizer build")


def pytest_collection_modifyitems(config, items):
    if not SANITIZED:
        return
    skip = pytest.mark.skip(reason="too slow under the sanitizer build")
    for item in items:
        if "slow" in item.keywords:
            item.add_marker(skip)
