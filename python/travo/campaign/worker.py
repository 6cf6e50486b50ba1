"""The worker process of a campaign: runs the bundles of tasks its parent sends, one task at a time.

Started by ``executors.Sandbox`` as ``python -c`` with the descriptor of its
end of a socket pair. It ignores SIGINT and SIGTERM (its parent decides when
runs stop) and exits as soon as its parent is gone, even in the middle of a
run, so that no worker outlives a campaign.
"""

from __future__ import annotations

import ctypes
import os
import signal
import sys
import threading
import time

# The bootstrap given to ``python -c``: the parent's module path first, so
# that the worker imports the same travo and the same user solvers.
BOOT = ("import sys, multiprocessing.connection as c; conn = c.Connection(int(sys.argv[1])); "
        "sys.path[:] = conn.recv(); from travo.campaign.worker import serve; serve(conn, int(sys.argv[2]))")

_PR_SET_PDEATHSIG = 1


def _leave_with(parent: int) -> None:
    """Ends this process when ``parent`` ends: by the kernel's parent-death signal where there is one, and by a
    thread that watches the parent (for a run that holds the interpreter, the signal still ends it)."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)
    except (OSError, AttributeError):
        pass
    if os.getppid() != parent:
        os._exit(1)

    def watch() -> None:
        while os.getppid() == parent:
            time.sleep(0.25)
        os._exit(1)

    threading.Thread(target=watch, name="travo-parent-watch", daemon=True).start()


def serve(conn, parent: int) -> None:
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    _leave_with(parent)
    from .execute import execute  # the heavy imports, after the watch is set up
    conn.send("ready")

    def started() -> None:
        conn.send("started")

    try:
        while True:
            bundle = conn.recv()
            if bundle == "stop":  # asked after the last run of the bundle had begun
                conn.send("stopped")
                continue
            for i, task in enumerate(bundle):
                if i and conn.poll():  # only a request to stop comes while a bundle runs
                    conn.recv()
                    conn.send("stopped")
                    break
                # The parent times a run from its "started" only when the run has a time limit.
                conn.send(execute(task, started if task.time_limit is not None else None))
    except (EOFError, OSError):
        pass
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(0)
