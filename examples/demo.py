"""Demo: inspect the sample deck and write a round-tripped copy."""

import json
import sys

import zandrel_native as zn


def main(deck, output):
    print(zn.build_info_json())
    print(zn.inspect_package_json(deck))
    copy = json.loads(zn.roundtrip_package_json(deck, output))
    print(f"wrote {copy['path']} with {len(copy['parts'])} parts")


if __name__ == "__main__":
    main(*sys.argv[1:3])
