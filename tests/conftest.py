import pathlib

import pytest

REPO = pathlib.Path(__file__).resolve().parent.parent
SHARED = REPO.parent / "shared"
CORPUS = SHARED / "corpus"
VALIDATOR = SHARED / "tools" / "validate_pptx.py"


def corpus_decks(include_derived=True):
    """Real-world decks (not the malformed ones), as pytest parameters."""
    if not CORPUS.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"corpus not found at {CORPUS}"))]
    decks = sorted(p for p in CORPUS.iterdir() if p.suffix in (".pptx", ".pptm", ".potx"))
    if include_derived:
        decks += sorted((CORPUS / "derived").glob("*.pptx"))
    return [pytest.param(p, id=p.name) for p in decks]


def malformed_decks():
    folder = CORPUS / "malformed"
    if not folder.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"corpus not found at {CORPUS}"))]
    return [pytest.param(p, id=p.name) for p in sorted(folder.iterdir())]
