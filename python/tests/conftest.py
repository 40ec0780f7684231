"""Fixtures: a scratch shared-memory root for the whole session, a fresh
store name per test (the process keeps its shared-memory managers by name),
and the hardware side as a separate process when a test needs one."""
import itertools
import os
import subprocess
import tempfile

import pytest

_root = tempfile.mkdtemp(prefix="zadulpm-py-")
os.environ["ZADU_SHM_ROOT"] = _root
_stores = itertools.count()

import zadulpm  # noqa: E402  (after the root is chosen)


@pytest.fixture
def root():
    return _root


@pytest.fixture
def store(request):
    return f"py{next(_stores)}"


@pytest.fixture
def agent(store):
    made = zadulpm.Agent(store)
    yield made
    made.close()


@pytest.fixture
def hardware(store):
    """Starts zadulpm-hw on the store; stops it after the test."""
    program = os.environ.get("ZADULPM_HW")
    if not program:
        pytest.skip("ZADULPM_HW names no hardware-side program")
    started = []

    def start():
        process = subprocess.Popen(
            [program, "--root", _root, "--store", store, "--wait", "10"],
            stderr=subprocess.PIPE, text=True)
        started.append(process)
        return process

    yield start
    for process in started:
        process.terminate()
        process.wait(timeout=10)

