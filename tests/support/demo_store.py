"""What the Python tests that run morvane-server as a user would share: a
free loopback port, and a demo store made by morvane-load in a directory of
its own, with the settings and aliases a server started there reads."""
import os
import socket
import subprocess

ALIASES = ("[HISTDATA]\nDRIVER=SQLITE\nPATH=ticks\n\n[Historical]\nDRIVER=SQLITE\nPATH=historical.db\n\n"
           "[plrdata]\nDRIVER=SQLITE\nPATH=plrdata.db\n\n[omsdata]\nDRIVER=SQLITE\nPATH=omsdata.db\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_demo_store(build, store, max_connection, demo_args, env=None):
    """Fills the new directory `store` (its ticks/ and etc/ made here) with
    oms.ini, aliases.ini and `morvane-load demo <demo_args>`."""
    os.makedirs(os.path.join(store, "ticks"))
    os.makedirs(os.path.join(store, "etc"))
    with open(os.path.join(store, "oms.ini"), "w") as f:
        f.write("[MORVANE]\nMaxConnection=%d\n\n[OMS_DATABASE]\nDSN_source=omsdata\n" % max_connection)
    with open(os.path.join(store, "aliases.ini"), "w") as f:
        f.write(ALIASES)
    load = os.path.join(build, "morvane-load")
    for args in (["init"], ["demo", *demo_args]):
        subprocess.run([load, *args], cwd=store, env=env, check=True, stdout=subprocess.DEVNULL)
