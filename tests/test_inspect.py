"""The package manifest against an independent reading with zipfile and hashlib."""

import hashlib
import json
import zipfile

import pytest

import zandrel_native as zn
from conftest import corpus_decks, malformed_decks
from fixtures import deck_parts, slide_xml, write_package


def expected_kind(name):
    if name.endswith(".rels"):
        return "relationships"
    if name.endswith("vbaProject.bin"):
        return "vba"
    if name.endswith(".xml"):
        return "xml"
    if name.startswith("ppt/media/"):
        return "media"
    if name.startswith("ppt/embeddings/"):
        return "embedding"
    return "binary"


def expected_manifest(path):
    with zipfile.ZipFile(path) as archive:
        parts = []
        for info in archive.infolist():
            data = archive.read(info)
            parts.append(
                {
                    "name": info.orig_filename,
                    "size": len(data),
                    "sha256": hashlib.sha256(data).hexdigest(),
                    "kind": expected_kind(info.orig_filename),
                }
            )
    parts.sort(key=lambda part: part["name"].encode("utf-8"))
    return json.dumps({"path": str(path), "parts": parts}, indent=2, ensure_ascii=False)


@pytest.mark.parametrize("deck", corpus_decks())
def test_corpus_manifest_matches_independent_reading(deck):
    assert zn.inspect_package_json(str(deck)) == expected_manifest(deck)


@pytest.mark.parametrize("deck", malformed_decks())
def test_malformed_decks_fail_cleanly_or_list_correctly(deck):
    try:
        manifest = zn.inspect_package_json(str(deck))
    except RuntimeError as error:
        assert str(error).startswith(("zip error: ", "io error: ")), str(error)
        return
    assert manifest == expected_manifest(deck)


@pytest.mark.parametrize(
    "name, kind",
    [
        ("ppt/media/image1.xml", "xml"),
        ("ppt/media/image1.png", "media"),
        ("ppt/embeddings/oleObject1.bin", "embedding"),
        ("ppt/embeddings/x.bin.rels", "relationships"),
        ("ppt/vbaProject.bin", "vba"),
        ("ppt/presentation.XML", "binary"),
        (".xml", "xml"),
        ("ppt/media/", "media"),
    ],
)
def test_part_kinds(tmp_path, name, kind):
    path = write_package(tmp_path / "p.zip", {name: b""})
    record = json.loads(zn.inspect_package_json(str(path)))["parts"][0]
    assert record == {"name": name, "size": 0, "sha256": hashlib.sha256(b"").hexdigest(), "kind": kind}


def test_names_sort_by_bytes_and_empty_archive_lists_nothing(tmp_path):
    parts = deck_parts([slide_xml()])
    path = write_package(tmp_path / "deck.pptx", dict(reversed(list(parts.items()))))
    names = [p["name"] for p in json.loads(zn.inspect_package_json(str(path)))["parts"]]
    assert names[:2] == ["[Content_Types].xml", "_rels/.rels"]
    assert names == sorted(names, key=lambda n: n.encode())

    empty = write_package(tmp_path / "empty.zip", {})
    assert zn.inspect_package_json(str(empty)) == f'{{\n  "path": "{empty}",\n  "parts": []\n}}'


def test_path_is_reported_as_given(tmp_path, monkeypatch):
    write_package(tmp_path / "deck.pptx", {"a.xml": "<a/>"})
    monkeypatch.chdir(tmp_path)
    assert json.loads(zn.inspect_package_json("./deck.pptx"))["path"] == "./deck.pptx"


def test_non_ascii_names_are_written_unescaped(tmp_path):
    path = write_package(tmp_path / "deck.pptx", {"ppt/media/bild-ä.png": b"x"})
    assert '"name": "ppt/media/bild-ä.png"' in zn.inspect_package_json(str(path))
