"""Real morvane-servers for the client's tests, on a demo store made as ./run
makes it (`morvane-load init`, then `morvane-load demo`), with the demo's
last day fixed and the servers' clock at its evening, so answers do not
depend on the day the tests run.

The build directory is $MORVANE_BUILD_DIR (ctest sets it), else
build/release of this checkout.
"""
import os
import re
import shutil
import signal
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))  # the package, uninstalled

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
BUILD = os.environ.get("MORVANE_BUILD_DIR") or os.path.join(ROOT, "build", "release")
LAST_DAY = "2003-07-07"  # a Monday
CLOCK = LAST_DAY + " 17:30:00"

SETTINGS = """[MORVANE]
MaxConnection={limit}
NominalUpdateTimestamp=16:00:00
CalcMode=DC
DBMode=PARADOX
SplitTime=09:00:00

[OMS_DATABASE]
DSN_source=omsdata
"""

ALIASES = """[HISTDATA]
DRIVER=SQLITE
PATH=ticks

[Historical]
DRIVER=SQLITE
PATH=historical.db

[plrdata]
DRIVER=SQLITE
PATH=plrdata.db

[omsdata]
DRIVER=SQLITE
PATH=omsdata.db
"""


def store_env(directory):
    """The environment of a server or loader on the store in `directory`:
    its own log and configuration directory, nothing of the machine's."""
    return dict(os.environ, MORVANE_LOG=os.path.join(directory, "KMDL.log"),
                MORVANE_SYSCONFDIR=os.path.join(directory, "etc"),
                MORVANE_ALIASES=os.path.join(directory, "aliases.ini"))


class Server:
    """morvane-server on port 0 in `directory`; `url` once it is ready."""

    def __init__(self, directory):
        self.proc = subprocess.Popen(
            [os.path.join(BUILD, "morvane-server"), "--listen", "127.0.0.1:0", "--clock", CLOCK],
            cwd=directory, env=store_env(directory), stdout=subprocess.PIPE)
        line = self.proc.stdout.readline().decode()
        m = re.search(r"(http://127\.0\.0\.1:\d+)\s*$", line)
        if not m:
            self.proc.kill()
            raise RuntimeError(f"morvane-server did not start: {line!r}")
        self.url = m.group(1)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture(scope="session")
def demo_store(tmp_path_factory):
    directory = str(tmp_path_factory.mktemp("demo"))
    os.makedirs(os.path.join(directory, "ticks"))
    os.makedirs(os.path.join(directory, "etc"))
    with open(os.path.join(directory, "oms.ini"), "w") as f:
        f.write(SETTINGS.format(limit=10))
    with open(os.path.join(directory, "aliases.ini"), "w") as f:
        f.write(ALIASES)
    loader = os.path.join(BUILD, "morvane-load")
    for args in (["init"], ["demo", "--end", LAST_DAY]):
        subprocess.run([loader, *args], cwd=directory, env=store_env(directory), check=True,
                       stdout=subprocess.DEVNULL)
    return directory


@pytest.fixture()
def store_copy(demo_store, tmp_path):
    """A copy of the demo store a test may change."""
    directory = str(tmp_path / "store")
    shutil.copytree(demo_store, directory, ignore=shutil.ignore_patterns("KMDL.log"))
    return directory


@pytest.fixture(scope="session")
def server(demo_store):
    s = Server(demo_store)
    yield s
    s.stop()


@pytest.fixture()
def start_server():
    """Starts servers on stores the test prepared; stops them afterwards."""
    started = []

    def start(directory):
        started.append(Server(directory))
        return started[-1]
    yield start
    for s in started:
        s.stop()
