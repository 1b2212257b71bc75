"""Copying a package unchanged, including onto itself and into new folders."""

import json
import os

import pytest

import zandrel_native as zn
from fixtures import write_deck
from test_inspect import expected_manifest


def test_into_missing_directory_is_byte_identical(tmp_path):
    deck = write_deck(tmp_path / "deck.pptx")
    out = tmp_path / "new" / "nested" / "copy.pptx"
    result = json.loads(zn.roundtrip_package_json(str(deck), str(out)))
    assert out.read_bytes() == deck.read_bytes()
    assert result["path"] == str(out)
    assert result["parts"] == json.loads(expected_manifest(deck))["parts"]


def test_in_place_leaves_the_file_as_it_was(tmp_path):
    deck = write_deck(tmp_path / "deck.pptx")
    before = deck.read_bytes()
    zn.roundtrip_package_json(str(deck), str(deck))
    assert deck.read_bytes() == before
    assert os.listdir(tmp_path) == ["deck.pptx"]


@pytest.mark.parametrize(
    "content, prefix",
    [(None, "io error: "), (b"not a zip archive", "zip error: ")],
)
def test_failure_leaves_existing_output_untouched(tmp_path, content, prefix):
    source = tmp_path / "in.pptx"
    if content is not None:
        source.write_bytes(content)
    out = tmp_path / "out.pptx"
    out.write_bytes(b"previous output")
    with pytest.raises(RuntimeError) as raised:
        zn.roundtrip_package_json(str(source), str(out))
    assert str(raised.value).startswith(prefix)
    assert out.read_bytes() == b"previous output"
    assert sorted(os.listdir(tmp_path)) == sorted(["out.pptx"] + (["in.pptx"] if content else []))


def test_output_directory_that_cannot_be_created(tmp_path):
    deck = write_deck(tmp_path / "deck.pptx")
    (tmp_path / "file").write_bytes(b"")
    with pytest.raises(RuntimeError, match="^io error: "):
        zn.roundtrip_package_json(str(deck), str(tmp_path / "file" / "sub" / "out.pptx"))
