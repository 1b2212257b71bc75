"""Adding, duplicating and deleting slides on every corpus deck, each output
checked independently: python-pptx opens it, relationships and content-type
overrides name existing parts, nothing became unreachable, slide ids are
unique and in range, and untouched entries are byte-identical (raw-copy
modes) or carry only a new timestamp (delete mode)."""

import json
import posixpath
import re
import struct
import zipfile
from urllib.parse import unquote

import pptx
import pytest

import zandrel_native as zn
from conftest import corpus_decks

LIST_PARTS = ("ppt/presentation.xml", "ppt/_rels/presentation.xml.rels", "[Content_Types].xml")
REL_RE = re.compile(r"<(?:\w+:)?Relationship\b([^>]*)>")
ATTR_RE = re.compile(r'([\w:]+)\s*=\s*"([^"]*)"')
OVERRIDE_RE = re.compile(r"<(?:\w+:)?Override\b([^>]*)>")
SLIDE_PART_RE = re.compile(r"ppt/slides/slide\d+\.xml$")


def attributes(text):
    return {key.split(":")[-1]: value.replace("&amp;", "&") for key, value in ATTR_RE.findall(text)}


def relationship_source(rels_name):
    if rels_name == "_rels/.rels":
        return ""
    folder, _, name = rels_name.rpartition("/")
    return posixpath.join(posixpath.dirname(folder), name[: -len(".rels")])


def rels_name(source):
    folder, _, name = source.rpartition("/")
    return f"{folder}/_rels/{name}.rels" if folder else f"_rels/{name}.rels"


def resolve(source, target):
    if target.startswith("/"):
        return target[1:]
    return posixpath.normpath(posixpath.join(posixpath.dirname(source), target)).lstrip("/")


def internal_links(archive):
    """(source, target part) for every internal relationship of the package."""
    links = []
    for name in archive.namelist():
        if not name.endswith(".rels"):
            continue
        source = relationship_source(name)
        text = archive.read(name).decode("utf-8", "replace")
        for match in REL_RE.finditer(text):
            rel = attributes(match.group(1))
            if rel.get("TargetMode", "").lower() == "external" or not rel.get("Target"):
                continue
            links.append((source, resolve(source, unquote(rel["Target"]))))
    return links


def dangling_links(archive):
    names = {n.lower() for n in archive.namelist()}
    return {target.lower() for _, target in internal_links(archive) if target.lower() not in names}


def dangling_overrides(archive):
    names = {n.lower() for n in archive.namelist()}
    text = archive.read("[Content_Types].xml").decode("utf-8", "replace")
    found = set()
    for match in OVERRIDE_RE.finditer(text):
        part = attributes(match.group(1)).get("PartName", "").lstrip("/").lower()
        if part not in names:
            found.add(part)
    return found


def unreachable_parts(archive):
    graph = {}
    for source, target in internal_links(archive):
        graph.setdefault(source.lower(), set()).add(target.lower())
    seen, todo = {""}, [""]
    while todo:
        for nxt in graph.get(todo.pop(), ()):
            if nxt not in seen:
                seen.add(nxt)
                todo.append(nxt)
    return {
        n.lower() for n in archive.namelist()
        if not n.endswith("/") and not n.endswith(".rels") and n != "[Content_Types].xml"
        and n.lower() not in seen
    }


def slide_list_ids(archive):
    """Numeric ids of the slide list (the direct child of the root, not the section lists)."""
    text = archive.read("ppt/presentation.xml").decode("utf-8")
    lists = re.findall(r"<(\w+:)?sldIdLst>(.*?)</\1?sldIdLst>", text, re.S)
    if not lists:
        return []
    return [int(v) for v in re.findall(r'<(?:\w+:)?sldId\s[^>]*?\bid="(\d+)"', lists[0][1])]


def raw_entry(path, info):
    """Local header fields that a raw copy keeps, and the compressed bytes."""
    with open(path, "rb") as handle:
        handle.seek(info.header_offset)
        header = handle.read(30)
        name_length, extra_length = struct.unpack("<HH", header[26:30])
        handle.seek(info.header_offset + 30 + name_length + extra_length)
        return header[4:26], handle.read(info.compress_size)


def check_package(source, output, expected_slides, changed=(), removed=(), mode="raw"):
    """Independent checks of an output package against its input."""
    with zipfile.ZipFile(source) as before, zipfile.ZipFile(output) as after:
        assert after.testzip() is None
        assert dangling_links(after) <= dangling_links(before)
        assert dangling_overrides(after) <= dangling_overrides(before)
        ids = slide_list_ids(after)
        assert len(ids) == len(set(ids))
        if all(256 <= i <= 2147483647 for i in slide_list_ids(before)):
            assert all(256 <= i <= 2147483647 for i in ids)
        if mode == "delete":
            # kept parts that pointed at removed parts lose those links
            gone = {n.lower() for n in removed}
            for source_part, target in internal_links(before):
                if target.lower() in gone:
                    changed = {*changed, source_part, rels_name(source_part)}
        before_infos = {i.filename: i for i in before.infolist()}
        after_names = [i.filename for i in after.infolist()]
        kept = [n for n in before_infos if n not in removed]
        assert after_names[: len(kept)] == kept
        for info in after.infolist()[: len(kept)]:
            if info.filename in changed or info.filename in LIST_PARTS:
                continue
            old = before_infos[info.filename]
            if mode == "raw" and info.filename.endswith("/"):
                assert info.file_size == 0  # re-created as a directory entry
            elif mode == "raw":
                assert raw_entry(output, info) == raw_entry(source, old), info.filename
            elif not info.filename.endswith("/"):
                assert info.date_time == (1980, 1, 1, 0, 0, 0)
                assert info.compress_type == old.compress_type
                assert raw_entry(output, info)[1] == raw_entry(source, old)[1], info.filename
        if mode == "delete":
            assert unreachable_parts(after) <= unreachable_parts(before)
    return len(after.infolist())


def open_with_python_pptx(source, path, expected_slides):
    """python-pptx opens the output, where it opens the input at all (it refuses
    templates, slide shows and Strict packages)."""
    try:
        pptx.Presentation(str(source))
    except (ValueError, KeyError):
        return
    assert len(pptx.Presentation(str(path)).slides) == expected_slides


def deck_slides(deck):
    with zipfile.ZipFile(deck) as archive:
        names = archive.namelist()
    return sorted((n for n in names if SLIDE_PART_RE.match(n)),
                  key=lambda n: int(re.search(r"(\d+)\.xml$", n).group(1)))


def layouts(deck):
    """Layout parts in natural order, each with whether it is UTF-8 text."""
    with zipfile.ZipFile(deck) as archive:
        names = [n for n in archive.namelist() if re.match(r"ppt/slideLayouts/slideLayout\d+\.xml$", n)]
        names.sort(key=lambda n: int(re.search(r"(\d+)\.xml$", n).group(1)))
        return [(n, utf8(archive.read(n))) for n in names]


def utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


NOT_UTF8 = "io error: stream did not contain valid UTF-8"


@pytest.mark.parametrize("deck", corpus_decks())
def test_add_blank_slide_with_every_layout(deck, tmp_path):
    slides = len(deck_slides(deck))
    out = tmp_path / "out.pptx"
    try:
        result = json.loads(zn.add_blank_slide_json(str(deck), str(out)))
    except RuntimeError as error:
        # no slide to take the layout from, or a layout stored as UTF-16
        assert (slides == 0 and str(error) == "xml text decode error: no slide layout relationship found") or (
            str(error) == NOT_UTF8 and not all(ok for _, ok in layouts(deck))), str(error)
    else:
        assert result["slide_count"] == slides + 1
        check_package(deck, out, slides + 1)
        open_with_python_pptx(deck, out, slides + 1)
    for index, (name, is_utf8) in enumerate(layouts(deck)):
        if not is_utf8:
            with pytest.raises(RuntimeError, match=f"^{NOT_UTF8}$"):
                zn.add_blank_slide_with_layout_json(str(deck), str(out), index)
            continue
        result = json.loads(zn.add_blank_slide_with_layout_json(str(deck), str(out), index))
        assert result["layout_target"] == "../slideLayouts/" + name.rsplit("/", 1)[1]
        assert check_package(deck, out, slides + 1) == result["part_count"]
    if any(ok for _, ok in layouts(deck)):
        open_with_python_pptx(deck, out, slides + 1)  # the output of the last layout that converted


COPY_POLICY_ERROR = re.compile(
    r"invalid input: cannot duplicate slide relationship type \S+ without an explicit copy policy$"
)


@pytest.mark.parametrize("deck", corpus_decks())
def test_duplicate_every_slide(deck, tmp_path):
    slides = deck_slides(deck)
    out = tmp_path / "out.pptx"
    opened = False
    for slide in slides:
        try:
            result = json.loads(zn.duplicate_slide_json(str(deck), str(out), slide))
        except RuntimeError as error:
            assert COPY_POLICY_ERROR.match(str(error)), str(error)
            continue
        assert result["slide_count"] == len(slides) + 1
        assert check_package(deck, out, len(slides) + 1) == result["part_count"]
        with zipfile.ZipFile(out) as copy, zipfile.ZipFile(deck) as source:
            assert copy.read(result["slide_part"]) == source.read(slide)
        if not opened:
            open_with_python_pptx(deck, out, len(slides) + 1)
            opened = True


def removed_entries(deck, out):
    with zipfile.ZipFile(deck) as before, zipfile.ZipFile(out) as after:
        return set(before.namelist()) - set(after.namelist())


@pytest.mark.parametrize("deck", corpus_decks())
def test_delete_each_slide_and_a_set_with_survivor_order(deck, tmp_path):
    slides = deck_slides(deck)
    if len(slides) < 2:
        pytest.skip("a deck needs two slides for a deletion")
    out = tmp_path / "out.pptx"
    for slide in slides:
        result = json.loads(zn.delete_slide_json(str(deck), str(out), slide))
        assert result["survivor_count"] == len(slides) - 1
        assert slide in removed_entries(deck, out)
        check_package(deck, out, len(slides) - 1, removed=removed_entries(deck, out), mode="delete")
    open_with_python_pptx(deck, out, len(slides) - 1)

    targets = slides[::2][: len(slides) - 1]
    survivors = [s for s in slides if s not in targets][::-1]
    result = json.loads(zn.delete_slides_json(str(deck), str(out), targets, survivors))
    assert result["deleted_slide_parts"] == sorted(targets)
    check_package(deck, out, len(survivors), removed=removed_entries(deck, out), mode="delete")
    open_with_python_pptx(deck, out, len(survivors))
    with zipfile.ZipFile(out) as archive:
        text = archive.read("ppt/_rels/presentation.xml.rels").decode("utf-8")
    by_id = {attributes(m.group(1))["Id"]: resolve("ppt/presentation.xml", attributes(m.group(1))["Target"])
             for m in REL_RE.finditer(text)}
    with zipfile.ZipFile(out) as archive:
        order = re.findall(r'<(?:\w+:)?sldId\s[^>]*?r:id="([^"]+)"', archive.read("ppt/presentation.xml").decode())
    assert [by_id[i] for i in order] == survivors
