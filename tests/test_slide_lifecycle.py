"""The slide lifecycle entry points from Python: argument binding, results,
errors, and the written packages read back with zipfile and python-pptx."""

import json
import zipfile

import pptx
import pytest

import zandrel_native as zn
from fixtures import deck_parts, slide_xml, text_box, write_deck, write_package

SLIDES = [f"ppt/slides/slide{i}.xml" for i in (1, 2, 3)]


@pytest.fixture
def deck(tmp_path):
    slides = [slide_xml(text_box(2, f"Box {i}", f"Slide {i}")) for i in (1, 2, 3)]
    return write_package(tmp_path / "deck.pptx", deck_parts(slides), stored=("ppt/theme/theme1.xml",))


def slide_texts(path):
    return [shape.text_frame.text for slide in pptx.Presentation(str(path)).slides
            for shape in slide.shapes if shape.has_text_frame]


def test_add_blank_slide_opens_in_python_pptx(deck, tmp_path):
    out = tmp_path / "out" / "added.pptx"
    result = json.loads(zn.add_blank_slide_json(str(deck), str(out)))
    assert list(result) == ["path", "slide_part", "relationship_id", "layout_target", "slide_id",
                            "slide_count", "part_count", "has_vba"]
    assert result["slide_part"] == "ppt/slides/slide4.xml"
    assert result["slide_id"] == 259 and result["slide_count"] == 4
    with zipfile.ZipFile(out) as archive:
        assert result["part_count"] == len(archive.infolist())
    assert len(pptx.Presentation(str(out)).slides) == 4
    by_keyword = json.loads(zn.add_blank_slide_with_layout_json(input=str(deck), output=str(out), layout_index=0))
    assert by_keyword["layout_target"] == "../slideLayouts/slideLayout1.xml"
    with pytest.raises(OverflowError):
        zn.add_blank_slide_with_layout_json(str(deck), str(out), -1)


def test_duplicate_slide_appends_a_copy(deck, tmp_path):
    out = tmp_path / "copy.pptx"
    result = json.loads(zn.duplicate_slide_json(str(deck), str(out), "ppt/slides/slide2.xml"))
    assert result["slide_part"] == "ppt/slides/slide4.xml"
    assert slide_texts(out) == ["Slide 1", "Slide 2", "Slide 3", "Slide 2"]


def test_delete_slides_with_survivor_order(deck, tmp_path):
    out = tmp_path / "deleted.pptx"
    result = json.loads(zn.delete_slides_json(str(deck), str(out), [SLIDES[1]], [SLIDES[2], SLIDES[0]]))
    assert result == {"path": str(out), "deleted_slide_parts": [SLIDES[1]], "deleted_relationship_ids": ["rId3"],
                      "survivor_count": 2, "part_count": result["part_count"], "has_vba": False}
    assert slide_texts(out) == ["Slide 3", "Slide 1"]


def test_delete_slide_is_delete_slides_of_one(deck, tmp_path):
    one = json.loads(zn.delete_slide_json(str(deck), str(tmp_path / "a.pptx"), SLIDES[0]))
    many = json.loads(zn.delete_slides_json(str(deck), str(tmp_path / "b.pptx"), [SLIDES[0]]))
    many_none = json.loads(zn.delete_slides_json(str(deck), str(tmp_path / "b.pptx"), (SLIDES[0],), None))
    assert {**one, "path": ""} == {**many, "path": ""} == {**many_none, "path": ""}
    assert (tmp_path / "a.pptx").read_bytes() == (tmp_path / "b.pptx").read_bytes()
    with pytest.raises(TypeError):
        zn.delete_slides_json(str(deck), str(tmp_path / "c.pptx"), SLIDES[0])


def test_delete_restamps_every_entry_without_changing_its_method(deck, tmp_path):
    out = tmp_path / "deleted.pptx"
    zn.delete_slide_json(str(deck), str(out), SLIDES[0])
    with zipfile.ZipFile(deck) as before, zipfile.ZipFile(out) as after:
        methods = {info.filename: info.compress_type for info in before.infolist()}
        assert after.testzip() is None
        for info in after.infolist():
            assert info.date_time == (1980, 1, 1, 0, 0, 0)
            assert info.compress_type == methods[info.filename]
        assert after.getinfo("ppt/theme/theme1.xml").compress_type == zipfile.ZIP_STORED


@pytest.mark.parametrize("call, message", [
    (lambda d, o: zn.delete_slides_json(d, o, []),
     "invalid input: no target slide parts specified for deletion"),
    (lambda d, o: zn.delete_slide_json(d, o, "ppt/slides/slide9.xml"),
     "invalid input: target slide part ppt/slides/slide9.xml was not found in the presentation"),
    (lambda d, o: zn.delete_slides_json(d, o, SLIDES),
     "invalid input: cannot delete all slides; presentation must contain at least one slide"),
    (lambda d, o: zn.duplicate_slide_json(d, o, "ppt/slides/slide9.xml"),
     "invalid input: source slide part ppt/slides/slide9.xml was not found in the presentation"),
    (lambda d, o: zn.add_blank_slide_with_layout_json(d, o, 1),
     "xml text decode error: slide layout index 1 was not found"),
])
def test_errors_leave_no_output(deck, tmp_path, call, message):
    out = tmp_path / "out.pptx"
    with pytest.raises(RuntimeError) as raised:
        call(str(deck), str(out))
    assert str(raised.value) == message
    assert not out.exists()


def test_missing_input_and_corrupt_entry(tmp_path):
    with pytest.raises(RuntimeError, match="^io error: "):
        zn.add_blank_slide_json(str(tmp_path / "missing.pptx"), str(tmp_path / "out.pptx"))
    deck = write_deck(tmp_path / "deck.pptx", slides=[slide_xml(), slide_xml()],
                      stored=("ppt/theme/theme1.xml",))
    data = bytearray(deck.read_bytes())
    at = data.find(b"Office Theme")
    data[at] ^= 0x20  # the stored theme no longer matches its CRC
    deck.write_bytes(bytes(data))
    with pytest.raises(RuntimeError, match="^io error: crc mismatch in entry ppt/theme/theme1.xml$"):
        zn.delete_slide_json(str(deck), str(tmp_path / "out.pptx"), SLIDES[0])
