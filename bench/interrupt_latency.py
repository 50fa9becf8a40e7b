"""How late Ctrl-C stops read_csv, on a narrow and a wide file.

An interval timer raises KeyboardInterrupt (as Ctrl-C does) at several points of a load; the lateness
is the time from the timer's expiry to the handler, and to the end of the call (what was built is
dropped by then).

    .venv/bin/python bench/interrupt_latency.py [DATA_DIR]    (in the environment that holds the module)
"""

import signal
import sys
import tempfile
import time
from pathlib import Path

from timing import quiet

from orvantis_core import KestraneDataFrame

FILES = {
    "narrow_1Mx8": (8, 1_000_000),
    "wide_400kx20": (400_000, 20),
}
SHARES = [0.05, 0.15, 0.3, 0.45, 0.6, 0.75, 0.9]


def write_file(path, columns, rows):
    with open(path, "w") as out:
        out.write(",".join(f"c{index}" for index in range(columns)) + "\n")
        row = ",".join("1.5" for _ in range(columns)) + "\n"
        for _ in range(rows):
            out.write(row)


def load_seconds(path):
    start = time.monotonic()
    with quiet():
        KestraneDataFrame().read_csv(str(path))
    return time.monotonic() - start


class Interrupter:
    """Raises KeyboardInterrupt on SIGALRM while armed, as Ctrl-C would; ignores a late one after disarming."""

    def __init__(self):
        self.armed = False
        self.handled_at = None
        signal.signal(signal.SIGALRM, self.handle)

    def handle(self, signum, frame):
        if self.armed:
            self.handled_at = time.monotonic()
            raise KeyboardInterrupt

    def lateness(self, path, delay):
        """Seconds from the timer's expiry to the handler and to the end of the call, or None when the load
        ended first."""
        late = None
        with quiet():
            start = time.monotonic()
            self.armed = True
            signal.setitimer(signal.ITIMER_REAL, delay)
            try:
                KestraneDataFrame().read_csv(str(path))
            except KeyboardInterrupt:
                late = (self.handled_at - start - delay, time.monotonic() - start - delay)
            finally:
                self.armed = False
                signal.setitimer(signal.ITIMER_REAL, 0)
        return late


def main():
    interrupter = Interrupter()
    with tempfile.TemporaryDirectory() as scratch:
        data_dir = Path(sys.argv[1] if len(sys.argv) > 1 else scratch)
        data_dir.mkdir(parents=True, exist_ok=True)
        for name, (columns, rows) in FILES.items():
            path = data_dir / f"interrupt_{name}.csv"
            if not path.exists():
                write_file(path, columns, rows)
            whole = load_seconds(path)
            late = [interrupter.lateness(path, share * whole) for share in SHARES]
            stopped = [seconds for seconds in late if seconds is not None]
            if not stopped:
                print(f"{name}: load {whole:.3f} s, never interrupted")
                continue
            handled, ended = (max(seconds) for seconds in zip(*stopped, strict=True))
            print(
                f"{name}: load {whole:.3f} s; over {len(stopped)} interrupts, the handler ran at most {handled:.3f} s"
                f" late and the call ended at most {ended:.3f} s late"
            )


if __name__ == "__main__":
    main()
