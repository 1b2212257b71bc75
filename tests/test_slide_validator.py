"""The schema and package validator finds no problem in an output that its
input did not have, for adding, duplicating and deleting slides on decks with
sections, custom shows, slide-jump hyperlinks, SmartArt, charts, notes and
comments."""

import json
import subprocess
import sys

import pytest

import zandrel_native as zn
from conftest import CORPUS, VALIDATOR
from test_slide_corpus import deck_slides

DECKS = [
    "poi__stress022.pptx",                                  # slide show, SmartArt links to slides
    "poi__60810.pptx",                                      # sections
    "aspose-examples__CloneSlideIntoSpecifiedSection.pptx",  # sections
    "openxmlsdk__typical.pptx",                             # OLE, notes, hyperlinks
    "tika__testPPT_various2.pptx",                          # chart, comments, SmartArt
    "aspose-examples__PresentationText.pptx",               # modern comments, notes
]


def problems(*paths):
    """(file, part) -> first error message, for every invalid part."""
    run = subprocess.run([sys.executable, str(VALIDATOR), "--json", *map(str, paths)],
                         capture_output=True, text=True)
    assert run.returncode in (0, 1), run.stderr
    return {(r["file"], r["part"]): r["errors"][0]["message"] for r in json.loads(run.stdout)["invalid"]}


def assert_adds_no_problem(deck, outputs):
    found = problems(deck, *outputs)
    before = {part: message for (file, part), message in found.items() if file == str(deck)}
    for output in outputs:
        after = {part: message for (file, part), message in found.items() if file == str(output)}
        for part, message in after.items():
            # a new part may only repeat a problem of the part it was copied from
            known = before.get(part, message if message in before.values() else None)
            assert message == known, f"{output.name}: {part}: {message}"


@pytest.mark.parametrize("name", DECKS)
def test_outputs_add_no_validator_problem(name, tmp_path):
    deck = CORPUS / name
    if not deck.exists():
        pytest.skip(f"corpus deck {name} not found")
    slides = deck_slides(deck)
    outputs = []

    out = tmp_path / "added.pptx"
    zn.add_blank_slide_json(str(deck), str(out))
    outputs.append(out)

    for slide in slides[:3]:
        out = tmp_path / f"duplicated-{len(outputs)}.pptx"
        try:
            zn.duplicate_slide_json(str(deck), str(out), slide)
        except RuntimeError as error:
            assert "without an explicit copy policy" in str(error)
            continue
        outputs.append(out)

    for slide in slides[:6]:
        out = tmp_path / f"deleted-{len(outputs)}.pptx"
        zn.delete_slide_json(str(deck), str(out), slide)
        outputs.append(out)

    out = tmp_path / "deleted-set.pptx"
    targets = slides[1::2]
    zn.delete_slides_json(str(deck), str(out), targets, [s for s in slides if s not in targets][::-1])
    outputs.append(out)

    assert_adds_no_problem(deck, outputs)
