"""Regenerates examples/sample.pptx, the small deck the demo runs on."""

import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from fixtures import slide_xml, text_box, write_deck  # noqa: E402

SLIDES = [
    slide_xml(text_box(2, "Title", "Quarterly report") + text_box(3, "Body", "Revenue grew 12%", y=914400)),
    slide_xml(text_box(2, "Title", "Next steps") + text_box(3, "Body", "Ship zandrel &amp; measure", y=914400)),
    slide_xml(text_box(2, "Title", "Questions?")),
]

if __name__ == "__main__":
    write_deck(HERE / "sample.pptx", SLIDES)
