"""inspect_package_json on the media-heavy deck against Python's zipfile plus
hashlib doing the same work, and against the SHA-256 floor (the digest alone,
OpenSSL on one core, over the same uncompressed bytes held in memory)."""

import hashlib
import json
import zipfile

import zandrel_native as zn
from timing import best_of, peak_rss_bytes, report


def python_manifest(path):
    with zipfile.ZipFile(path) as archive:
        parts = []
        for info in archive.infolist():
            data = archive.read(info)
            parts.append((info.filename, len(data), hashlib.sha256(data).hexdigest()))
    return sorted(parts)


def run(decks):
    path = str(decks["media-heavy"])
    ours_seconds, ours = best_of(3, lambda: zn.inspect_package_json(path))
    python_seconds, reference = best_of(3, lambda: python_manifest(path))
    # results are checked before any timing is believed
    ours_parts = sorted((p["name"], p["size"], p["sha256"]) for p in json.loads(ours)["parts"])
    assert ours_parts == reference, "inspect_package_json disagrees with zipfile + hashlib"

    with zipfile.ZipFile(path) as archive:
        contents = [archive.read(info) for info in archive.infolist()]
    largest = max(len(c) for c in contents)
    total = sum(len(c) for c in contents)
    floor_seconds, _ = best_of(3, lambda: [hashlib.sha256(c).digest() for c in contents])
    peak = peak_rss_bytes(f"zn.inspect_package_json({path!r})")

    report("inspect_package_json, media-heavy deck", [
        ("uncompressed bytes", f"{total / 1e6:.1f} MB in {len(contents)} entries"),
        ("zandrel", f"{ours_seconds:.3f} s ({total / ours_seconds / 1e6:.0f} MB/s)"),
        ("zipfile + hashlib", f"{python_seconds:.3f} s"),
        ("SHA-256 alone (floor)", f"{floor_seconds:.3f} s"),
        ("speed-up over zipfile + hashlib (>= 1.5)", f"{python_seconds / ours_seconds:.2f}x"),
        ("time / SHA-256 floor (<= 1.3)", f"{ours_seconds / floor_seconds:.2f}x"),
        ("peak memory above import", f"{peak / 1e6:.1f} MB"),
        ("largest entry + 32 MB (limit)", f"{(largest + 32 * 2**20) / 1e6:.1f} MB"),
    ])
