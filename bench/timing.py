"""Small helpers shared by the benchmarks: best-of-n timing, peak memory of a
child process, and the file copy that anchors every ratio."""

import json
import pathlib
import resource
import shutil
import subprocess
import sys
import tempfile
import time


def best_of(repeats, function, fresh_output=None):
    """The fastest of `repeats` runs, in seconds, and the last result. With
    `fresh_output`, that file is removed (untimed) before each run, so every
    contender writes a new file instead of replacing a 200 MB one."""
    best, result = float("inf"), None
    for _ in range(repeats):
        if fresh_output is not None:
            pathlib.Path(fresh_output).unlink(missing_ok=True)
        start = time.perf_counter()
        result = function()
        best = min(best, time.perf_counter() - start)
    return best, result


def copy_seconds(path, repeats=5):
    """Time of `cp` of the file into a temporary folder on the same disk."""
    with tempfile.TemporaryDirectory(dir=pathlib.Path(path).parent) as folder:
        target = pathlib.Path(folder) / "copy.pptx"
        return best_of(repeats, lambda: subprocess.run(["cp", str(path), str(target)], check=True),
                       fresh_output=target)[0]


def peak_rss_bytes(code):
    """Peak resident memory of a fresh Python running `code`, minus the same
    interpreter's peak after importing the module and doing nothing."""
    def run(snippet):
        script = f"import resource, zandrel_native as zn\n{snippet}\nprint(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)"
        out = subprocess.run([sys.executable, "-c", script], check=True, capture_output=True, text=True)
        return int(out.stdout.split()[-1]) * 1024
    return run(code) - run("pass")


def report(title, rows):
    print(f"\n== {title}")
    for label, value in rows:
        print(f"  {label:<48} {value}")
