"""Runs every benchmark on the generated decks; `make bench` calls this.

Each benchmark checks its results against a reference before it reports
times, and prints ratios against anchors measured in the same run."""

import os
import pathlib
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import bench_inspect  # noqa: E402
import bench_slides  # noqa: E402
import bench_summaries  # noqa: E402
import bench_text  # noqa: E402
from make_decks import ensure_decks  # noqa: E402

CPP_BENCH = HERE.parent / "build" / "cpp" / "bench"


def run_cpp(name, *args):
    binary = CPP_BENCH / name
    if not binary.exists():
        print(f"\n== {name}: not built (make core-tests builds it)")
        return
    print(f"\n== {name}")
    subprocess.run([str(binary), *map(str, args)], check=True)


def main():
    decks = ensure_decks()
    # delete and text replacement check entries on worker threads, so their
    # ratios to `cp` depend on how many cores there are
    print(f"machine: {os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f}")
    run_cpp("bench_zip_copy", decks["media-heavy"])
    run_cpp("bench_xml_stream")
    run_cpp("bench_shape_blocks")
    bench_inspect.run(decks)
    bench_summaries.run(decks)
    bench_slides.run(decks)
    bench_text.run(decks)


if __name__ == "__main__":
    main()
