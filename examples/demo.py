"""Demo: inspect and summarise the sample deck, edit it, and write a
round-tripped copy. Outputs go to the folder of the output path given."""

import json
import pathlib
import sys

import zandrel_native as zn


def main(deck, output):
    out = pathlib.Path(output).parent
    print(zn.build_info_json())
    print(zn.inspect_package_json(deck))

    summary = json.loads(zn.summarize_presentation_json(deck))
    for index, slide in enumerate(summary["slides"]):
        print(f"slide {index}: {slide['part']} {slide['texts']}")

    replaced = json.loads(zn.replace_slide_text_json(deck, str(out / "replaced.pptx"), "report", "review"))
    print("replace_slide_text_json:", json.dumps(replaced))
    added = json.loads(zn.add_blank_slide_json(deck, str(out / "added.pptx")))
    print("add_blank_slide_json:", json.dumps(added))

    copy = json.loads(zn.roundtrip_package_json(deck, output))
    print(f"wrote {copy['path']} with {len(copy['parts'])} parts")


if __name__ == "__main__":
    main(*sys.argv[1:3])
