"""Summaries handed to Python as finished JSON text: a value that cannot be
written as JSON fails with the same RuntimeError text as an entry point that
prints a value tree, and the text is the pretty JSON of its own content."""

import json
import os

import pytest

import zandrel_native as zn
from fixtures import write_deck

NOT_UTF8_NAME = b"deck-\xff.pptx"


@pytest.fixture
def deck_at_non_utf8_path(tmp_path):
    folder = os.fsencode(tmp_path)
    path = os.path.join(folder, NOT_UTF8_NAME)
    try:
        write_deck(os.fsdecode(path))
    except OSError as error:
        pytest.skip(f"file system refuses a name that is not UTF-8: {error}")
    return path


def test_path_that_is_not_utf8_fails_as_the_value_tree_entry_points_do(deck_at_non_utf8_path):
    index = deck_at_non_utf8_path.index(b"\xff")
    message = f"[json.exception.type_error.316] invalid UTF-8 byte at index {index}: 0xFF"
    path = os.fsdecode(deck_at_non_utf8_path)
    with pytest.raises(RuntimeError) as summary_error:
        zn.summarize_presentation_json(path)
    with pytest.raises(RuntimeError) as manifest_error:
        zn.inspect_package_json(path)
    assert str(summary_error.value) == message
    assert str(manifest_error.value) == message
    # a slide summary carries no path, so the same deck summarises
    slide = json.loads(zn.summarize_slide_at_index_json(path, 0))
    assert slide["part"] == "ppt/slides/slide1.xml"


def test_text_is_the_pretty_json_of_its_content(tmp_path):
    path = str(write_deck(tmp_path / "caf\u00e9 \"quoted\".pptx"))
    text = zn.summarize_presentation_json(path)
    assert text == json.dumps(json.loads(text), indent=2, ensure_ascii=False)
    assert json.loads(text)["path"] == path
    assert '"path": "' + path.replace('"', '\\"') + '",' in text
