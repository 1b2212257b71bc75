"""Text search and replace and the shape, paragraph and text-piece setters,
through the module, on small decks: records, read-back through python-pptx
and the summary, errors, and what the written package keeps."""

import json
import subprocess
import sys
import zipfile

import pptx
import pytest

import zandrel_native as zn
from conftest import VALIDATOR
from fixtures import deck_parts, slide_xml, text_box, write_package

BOLD_SHAPE = (
    '<p:sp><p:nvSpPr><p:cNvPr id="3" name="Body"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr>'
    '<p:spPr><a:xfrm><a:off x="0" y="914400"/><a:ext cx="914400" cy="457200"/></a:xfrm>'
    '<a:prstGeom prst="rect"><a:avLst/></a:prstGeom></p:spPr>'
    '<p:txBody><a:bodyPr wrap="none"/><a:lstStyle/>'
    '<a:p><a:r><a:rPr lang="en-US" b="1"/><a:t>cat &amp; mouse</a:t></a:r><a:br/>'
    '<a:r><a:rPr lang="en-US"/><a:t>second cat</a:t></a:r><a:endParaRPr lang="en-US"/></a:p>'
    '<a:p><a:r><a:t>last cat</a:t></a:r></a:p></p:txBody></p:sp>'
)


def make_deck(path, stored=()):
    """Two slides (the second holds the bold shape) and a layout that
    mentions the cat too."""
    parts = deck_parts([
        slide_xml(text_box(2, "Title", "the cat")),
        slide_xml(text_box(2, "Title", "no match here") + BOLD_SHAPE),
    ])
    layout = "ppt/slideLayouts/slideLayout1.xml"
    parts[layout] = parts[layout].replace("</p:spTree>", text_box(2, "Layout", "cat") + "</p:spTree>")
    return write_package(path, parts, stored=stored)


def slide_texts(path):
    """Paragraph texts of every shape, slide by slide, through python-pptx."""
    return [
        [[p.text for p in shape.text_frame.paragraphs] for shape in slide.shapes if shape.has_text_frame]
        for slide in pptx.Presentation(str(path)).slides
    ]


def summary_texts(path):
    summary = json.loads(zn.summarize_presentation_json(str(path)))
    return [[shape["paragraphs"] for shape in slide["shapes"]] for slide in summary["slides"]]


def entries(path):
    with zipfile.ZipFile(path) as archive:
        return {info.filename: (info.compress_type, info.date_time, archive.read(info)) for info in archive.infolist()}


def test_replace_on_every_slide(tmp_path):
    deck = make_deck(tmp_path / "deck.pptx", stored={"ppt/slides/slide2.xml"})
    out = tmp_path / "out" / "edited.pptx"
    result = zn.replace_slide_text_json(str(deck), str(out), "cat", "<dog & co>")
    assert result == (
        "{\n"
        f'  "path": "{out}",\n'
        '  "replacements": 4,\n'
        '  "part_count": 13,\n'
        '  "has_vba": false\n'
        "}"
    )
    expected = [[["the <dog & co>"]], [["no match here"], ["<dog & co> & mouse\x0bsecond <dog & co>", "last <dog & co>"]]]
    assert slide_texts(out) == expected
    assert summary_texts(out) == expected
    before, after = entries(deck), entries(out)
    assert list(after) == list(before)
    for name, (method, stamp, content) in after.items():
        assert method == before[name][0], name
        assert stamp == (1980, 1, 1, 0, 0, 0), name
        if name not in ("ppt/slides/slide1.xml", "ppt/slides/slide2.xml"):
            assert content == before[name][2], name
    # run formatting stays where it was
    body = pptx.Presentation(str(out)).slides[1].shapes[1].text_frame.paragraphs[0]
    assert [run.font.bold for run in body.runs] == [True, None]


def test_replace_at_index_counts_only_that_slide(tmp_path):
    deck = make_deck(tmp_path / "deck.pptx")
    out = tmp_path / "out.pptx"
    result = json.loads(zn.replace_slide_text_at_index_json(str(deck), str(out), 1, "cat", "dog"))
    assert result["replacements"] == 3
    assert slide_texts(out)[0] == [["the cat"]]
    result = json.loads(zn.replace_slide_text_at_index_json(str(deck), str(out), 0, "Cat", "dog"))
    assert result["replacements"] == 0


def test_setters_keep_formatting_and_report_indices(tmp_path):
    deck = make_deck(tmp_path / "deck.pptx")
    out = tmp_path / "out.pptx"

    result = json.loads(zn.set_slide_shape_paragraph_text_at_index_json(str(deck), str(out), 1, 1, 0, "new text"))
    assert result == {"path": str(out), "slide_index": 1, "shape_index": 1, "paragraph_index": 0,
                      "replacements": 3, "part_count": 13, "has_vba": False}
    paragraph = pptx.Presentation(str(out)).slides[1].shapes[1].text_frame.paragraphs[0]
    assert paragraph.text == "new text\x0b"
    assert paragraph.runs[0].font.bold is True
    assert summary_texts(out)[1][1] == ["new text\x0b", "last cat"]

    result = json.loads(zn.set_slide_shape_text_at_index_json(str(deck), str(out), 1, 1, "one\ntwo"))
    assert result == {"path": str(out), "slide_index": 1, "shape_index": 1, "replacements": 2,
                      "part_count": 13, "has_vba": False}
    assert slide_texts(out) == [[["the cat"]], [["no match here"], ["one", "two"]]]
    assert pptx.Presentation(str(out)).slides[1].shapes[1].text_frame.word_wrap is False  # bodyPr kept

    result = json.loads(zn.replace_slide_text_run_at_index_json(str(deck), str(out), 1, 2, "X"))
    assert result == {"path": str(out), "slide_index": 1, "run_index": 2, "replacements": 1,
                      "part_count": 13, "has_vba": False}
    # pieces: "no match here", "cat ", " mouse", "second cat", "last cat"
    assert slide_texts(out)[1][1] == ["cat &X\x0bsecond cat", "last cat"]


def test_edited_slides_stay_schema_valid(tmp_path):
    deck = make_deck(tmp_path / "deck.pptx")
    outputs = []
    for name, call in [
        ("replace", lambda o: zn.replace_slide_text_json(str(deck), o, "cat", "<&>")),
        ("shape", lambda o: zn.set_slide_shape_text_at_index_json(str(deck), o, 1, 1, "a\n\nb")),
        ("paragraph", lambda o: zn.set_slide_shape_paragraph_text_at_index_json(str(deck), o, 1, 1, 0, "x")),
    ]:
        out = str(tmp_path / f"{name}.pptx")
        call(out)
        outputs.append(out)
    report = subprocess.run([sys.executable, str(VALIDATOR), "--json", "--scope", "core", *outputs],
                            capture_output=True, text=True)
    assert report.returncode == 0, report.stdout + report.stderr


@pytest.mark.parametrize("call, message", [
    (lambda d, o: zn.replace_slide_text_at_index_json(d, o, 2, "a", "b"), "invalid input: slide index 2 was not found"),
    (lambda d, o: zn.replace_slide_text_run_at_index_json(d, o, 5, 0, "b"), "invalid input: slide index 5 was not found"),
    (lambda d, o: zn.set_slide_shape_text_at_index_json(d, o, 2, 0, "b"), "invalid input: slide index 2 was not found"),
    (lambda d, o: zn.set_slide_shape_paragraph_text_at_index_json(d, o, 2, 0, 0, "b"),
     "invalid input: slide index 2 was not found"),
    (lambda d, o: zn.replace_slide_text_json(d, o, "a", "b\x00"),
     "invalid input: text contains a character that XML does not allow: U+0000"),
    (lambda d, o: zn.replace_slide_text_json(d, o, "\x1f", "b"),
     "invalid input: text contains a character that XML does not allow: U+001F"),
    (lambda d, o: zn.set_slide_shape_text_at_index_json(d, o, 0, 0, "\ufffe"),
     "invalid input: text contains a character that XML does not allow: U+FFFE"),
])
def test_errors_leave_no_output(tmp_path, call, message):
    deck = make_deck(tmp_path / "deck.pptx")
    out = tmp_path / "new" / "out.pptx"
    with pytest.raises(RuntimeError) as raised:
        call(str(deck), str(out))
    assert str(raised.value) == message
    assert not out.exists()


def test_malformed_slide_leaves_existing_output_untouched(tmp_path):
    parts = deck_parts([slide_xml(text_box(2, "T", "cat")), slide_xml(text_box(2, "T", "cat"))])
    parts["ppt/slides/slide2.xml"] = parts["ppt/slides/slide2.xml"].replace("</a:t>", "</a:r>", 1)
    deck = write_package(tmp_path / "deck.pptx", parts)
    out = tmp_path / "out.pptx"
    out.write_bytes(b"previous output")
    for call in (lambda: zn.replace_slide_text_json(str(deck), str(out), "cat", "dog"),
                 lambda: zn.set_slide_shape_text_at_index_json(str(deck), str(out), 1, 0, "dog")):
        with pytest.raises(RuntimeError, match="^xml error: mismatched end tag: expected </a:t>, found </a:r>"):
            call()
        assert out.read_bytes() == b"previous output"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["deck.pptx", "out.pptx"]
