"""Text edits on every corpus deck, checked against the same edit made with
lxml on the input's slide: the written slide must equal the expected one
(canonical XML), python-pptx and the summary must read the output exactly as
they read a package holding the expected slide, every other part keeps its
content, and every file entry gets the 1980-01-01 timestamp and keeps its
compression method.

Character data in CDATA sections is passed through and never searched (some
writers put all their text in CDATA), so the oracle leaves those elements
alone too."""

import io
import json
import re
import zipfile

import pptx
import pytest
from lxml import etree

import zandrel_native as zn
from conftest import corpus_decks

SLIDE = re.compile(r"^ppt/slides/slide[0-9]+\.xml$")
ABSENT = "zqxzandrelabsent"
NEW = "Zandrelword"
SHAPE_LINES = "Zandrel first shape\nsecond line"


def local(element):
    return etree.QName(element).localname if isinstance(element.tag, str) else None


def infos(path):
    with zipfile.ZipFile(path) as archive:
        return archive.infolist(), {i.filename: archive.read(i) for i in archive.infolist() if not i.is_dir()}


def parse(xml):
    return etree.parse(io.BytesIO(xml), etree.XMLParser(resolve_entities=False, huge_tree=True, strip_cdata=False))


def canonical(tree):
    return etree.tostring(tree, method="c14n")


def text_elements(tree):
    """The `t` elements whose text is plain character data."""
    return [e for e in tree.iter()
            if local(e) == "t" and b"<![CDATA[" not in etree.tostring(e, with_tail=False)]


def first_word(contents):
    """The first word of slide text, preferring one of three letters or more;
    letters only, so it cannot span a reference."""
    texts = [element.text or "" for name in sorted(contents) if SLIDE.match(name)
             for element in text_elements(parse(contents[name]))]
    for pattern in (r"[^\W\d_]{3,}", r"[^\W\d_]+"):
        for text in texts:
            found = re.search(pattern, text)
            if found:
                return found.group(0)
    return None


def remove_keeping_tail(element):
    parent, previous = element.getparent(), element.getprevious()
    if element.tail:
        if previous is not None:
            previous.tail = (previous.tail or "") + element.tail
        else:
            parent.text = (parent.text or "") + element.tail
    parent.remove(element)


def outermost_paragraphs(body):
    """The `p` elements of a text body that are not inside another one."""
    def nested(element):
        for ancestor in element.iterancestors():
            if ancestor is body:
                return False
            if local(ancestor) == "p":
                return True
        return False

    return [e for e in body.iter() if local(e) == "p" and not nested(e)]


def pptx_texts(path):
    """Every paragraph text python-pptx sees, shapes in groups and table
    cells included; None when python-pptx cannot open the package."""
    try:
        deck = pptx.Presentation(str(path))
    except Exception:
        return None

    def shape_texts(shapes):
        for shape in shapes:
            if shape.shape_type == pptx.enum.shapes.MSO_SHAPE_TYPE.GROUP:
                yield from shape_texts(shape.shapes)
            if shape.has_text_frame:
                yield [p.text for p in shape.text_frame.paragraphs]
            if getattr(shape, "has_table", False) and shape.has_table:
                for row in shape.table.rows:
                    yield [cell.text for cell in row.cells]

    return [list(shape_texts(slide.shapes)) for slide in deck.slides]


def summary(path):
    result = json.loads(zn.summarize_presentation_json(str(path)))
    result.pop("path")
    return result


def write_expected(source, path, slides):
    """The input with the given slide parts replaced, written by zipfile."""
    entries, contents = infos(source)
    with zipfile.ZipFile(path, "w") as archive:
        for info in entries:
            archive.writestr(info, slides.get(info.filename, contents.get(info.filename, b"")))
    return path


def check_output(deck, out, expected_slides, tmp_path):
    """Compares `out` against the input with `expected_slides` (name -> lxml
    tree) swapped in."""
    before_infos, before = infos(deck)
    after_infos, after = infos(out)
    assert [i.filename for i in after_infos] == [i.filename for i in before_infos]
    for old, new in zip(before_infos, after_infos):
        assert new.is_dir() == old.is_dir(), old.filename
        if old.is_dir():
            continue
        assert new.compress_type == old.compress_type, old.filename
        assert new.date_time == (1980, 1, 1, 0, 0, 0), old.filename
        if old.filename in expected_slides:
            assert canonical(parse(after[old.filename])) == canonical(expected_slides[old.filename]), old.filename
        else:
            assert after[old.filename] == before[old.filename], old.filename
    if not expected_slides:
        assert summary(out) == summary(deck)
        assert pptx_texts(deck) is None or pptx_texts(out) is not None
        return
    reference = write_expected(deck, tmp_path / "expected.pptx",
                               {n: etree.tostring(t, xml_declaration=True, encoding="UTF-8", standalone=True)
                                for n, t in expected_slides.items()})
    assert summary(out) == summary(reference)
    expected_texts = pptx_texts(reference)
    if pptx_texts(deck) is not None:
        assert pptx_texts(out) == expected_texts


@pytest.mark.parametrize("deck", corpus_decks())
def test_replace_a_word_that_occurs(deck, tmp_path):
    _, contents = infos(deck)
    word = first_word(contents)
    if word is None:
        pytest.skip("no slide text to search for")
    expected, total = {}, 0
    for name, xml in contents.items():
        if not SLIDE.match(name):
            continue
        tree = parse(xml)
        count = 0
        for element in text_elements(tree):
            if element.text and word in element.text:
                count += element.text.count(word)
                element.text = element.text.replace(word, NEW)
        if count:
            expected[name] = tree
            total += count
    out = tmp_path / "out.pptx"
    result = json.loads(zn.replace_slide_text_json(str(deck), str(out), word, NEW))
    assert result["replacements"] == total
    assert result["part_count"] == len(infos(deck)[0])
    check_output(deck, out, expected, tmp_path)


@pytest.mark.parametrize("deck", corpus_decks())
def test_replace_a_word_that_does_not_occur(deck, tmp_path):
    out = tmp_path / "out.pptx"
    result = json.loads(zn.replace_slide_text_json(str(deck), str(out), ABSENT, NEW))
    assert result["replacements"] == 0
    check_output(deck, out, {}, tmp_path)


@pytest.mark.parametrize("deck", corpus_decks())
def test_set_the_text_of_the_first_shape(deck, tmp_path):
    out = tmp_path / "out.pptx"
    slides = summary(deck)["slides"]
    if not slides:
        with pytest.raises(RuntimeError, match="^invalid input: slide index 0 was not found$"):
            zn.set_slide_shape_text_at_index_json(str(deck), str(out), 0, 0, SHAPE_LINES)
        assert not out.exists()
        return
    part = slides[0]["part"]
    tree = parse(infos(deck)[1][part])
    shape = next((e for e in tree.iter() if local(e) == "sp"), None)
    body = next((e for e in shape.iter() if local(e) == "txBody"), None) if shape is not None else None
    expected, count = {}, 0
    if body is not None and (len(body) or body.text):
        paragraphs = outermost_paragraphs(body)
        for paragraph in paragraphs:
            remove_keeping_tail(paragraph)
        a = body.nsmap["a"]  # new markup is written with the prefix `a`
        for line in SHAPE_LINES.split("\n"):
            p = etree.SubElement(body, f"{{{a}}}p")
            etree.SubElement(etree.SubElement(p, f"{{{a}}}r"), f"{{{a}}}t").text = line
        expected[part], count = tree, max(len(paragraphs), 1)
    result = json.loads(zn.set_slide_shape_text_at_index_json(str(deck), str(out), 0, 0, SHAPE_LINES))
    assert result["replacements"] == count
    check_output(deck, out, expected, tmp_path)
