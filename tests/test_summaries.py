"""Presentation and slide summaries: every corpus deck, single slides against
the presentation, python-pptx as an independent reader, and small decks for
each kind of content."""

import html
import json

import pytest

import zandrel_native as zn
from conftest import corpus_decks, malformed_decks, CORPUS
from fixtures import REL, deck_parts, relationships_xml, slide_xml, text_box, write_package

pptx = pytest.importorskip("pptx")


def summary(path):
    return json.loads(zn.summarize_presentation_json(str(path)))


# ---- corpus ----------------------------------------------------------------


@pytest.mark.parametrize("deck", corpus_decks())
def test_each_slide_alone_equals_its_entry_in_the_presentation(deck):
    presentation = summary(deck)
    assert presentation["slide_count"] == len(presentation["slides"])
    for index, slide in enumerate(presentation["slides"]):
        alone = zn.summarize_slide_at_index_json(str(deck), index)
        assert alone == json.dumps(slide, indent=2, ensure_ascii=False)
    with pytest.raises(RuntimeError, match=f"^invalid input: slide index {len(presentation['slides'])} was not found$"):
        zn.summarize_slide_at_index_json(str(deck), len(presentation["slides"]))


def test_slide_order_follows_the_presentation_not_the_part_numbers():
    deck = CORPUS / "derived" / "derived__slidegap__docling__powerpoint_sample.pptx"
    if not deck.exists():
        pytest.skip(f"corpus not found at {CORPUS}")
    parts = [slide["part"] for slide in summary(deck)["slides"]]
    assert parts == ["ppt/slides/slide1.xml", "ppt/slides/slide7.xml", "ppt/slides/slide3.xml"]


def python_pptx_tables(shapes):
    """Cell texts of every table, groups entered, in document order."""
    tables = []
    for shape in shapes:
        if shape.shape_type == pptx.enum.shapes.MSO_SHAPE_TYPE.GROUP:
            tables += python_pptx_tables(shape.shapes)
        elif getattr(shape, "has_table", False) and shape.has_table:
            tables.append([[cell.text for cell in row.cells] for row in shape.table.rows])
    return tables


def our_tables(shapes):
    tables = []
    for shape in shapes:
        if shape["kind"] == "group":
            tables += our_tables(shape["children"])
        elif shape["kind"] == "graphic_frame":
            tables += [table["rows"] for table in shape["tables"]]
    return tables


@pytest.mark.parametrize("deck", corpus_decks())
def test_python_pptx_sees_the_same_slides_shape_names_and_tables(deck):
    try:
        reference = pptx.Presentation(str(deck))
        slides = list(reference.slides)
    except Exception as error:  # python-pptx refuses some valid decks
        pytest.skip(f"python-pptx cannot open this deck: {type(error).__name__}")
    ours = summary(deck)
    assert ours["slide_count"] == len(slides)
    for slide, our_slide in zip(slides, ours["slides"]):
        # python-pptx decodes entity references in names; we keep them raw
        names = [None if s["name"] is None else html.unescape(s["name"]) for s in our_slide["shapes"]]
        assert names == [shape.name for shape in slide.shapes]
        assert our_tables(our_slide["shapes"]) == python_pptx_tables(slide.shapes)


@pytest.mark.parametrize("deck", malformed_decks())
def test_malformed_decks_summarise_or_fail_with_a_library_error(deck):
    try:
        presentation = summary(deck)
    except RuntimeError as error:
        assert str(error).startswith(("zip error: ", "io error: ", "xml error: ")), str(error)
        return
    assert presentation["slide_count"] == len(presentation["slides"])


# ---- small decks -----------------------------------------------------------

XFRM = '<a:xfrm><a:off x="{}" y="{}"/><a:ext cx="{}" cy="{}"/></a:xfrm>'


def picture(shape_id, rel_id, video=""):
    return (
        f'<p:pic><p:nvPicPr><p:cNvPr id="{shape_id}" name="Picture {shape_id}"/><p:cNvPicPr/><p:nvPr>{video}'
        f'</p:nvPr></p:nvPicPr><p:blipFill><a:blip r:embed="{rel_id}"/></p:blipFill>'
        f"<p:spPr>{XFRM.format(10, 20, 30, 40)}</p:spPr></p:pic>"
    )


def graphic_frame(shape_id, data):
    return (
        f'<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id="{shape_id}" name="Frame {shape_id}"/>'
        "<p:cNvGraphicFramePr/><p:nvPr/></p:nvGraphicFramePr>"
        f'<p:xfrm><a:off x="1" y="2"/><a:ext cx="3" cy="4"/></p:xfrm><a:graphic><a:graphicData uri="u">{data}'
        "</a:graphicData></a:graphic></p:graphicFrame>"
    )


def cell(text, attributes=""):
    return f'<a:tc{attributes}><a:txBody><a:bodyPr/><a:p><a:r><a:t>{text}</a:t></a:r></a:p></a:txBody><a:tcPr/></a:tc>'


def placeholder(shape_id, kind, idx):
    return (
        f'<p:sp><p:nvSpPr><p:cNvPr id="{shape_id}" name="Title {shape_id}"/><p:cNvSpPr/><p:nvPr>'
        f'<p:ph type="{kind}" idx="{idx}"/></p:nvPr></p:nvSpPr><p:spPr/>'
        '<p:txBody><a:bodyPr/><a:p><a:r><a:rPr b="1" sz="4400"/><a:t>Heading</a:t></a:r></a:p></p:txBody></p:sp>'
    )


def group(shape_id, transform, children):
    return (
        f'<p:grpSp><p:nvGrpSpPr><p:cNvPr id="{shape_id}" name="Group {shape_id}"/><p:cNvGrpSpPr/><p:nvPr/>'
        f"</p:nvGrpSpPr><p:grpSpPr>{transform}</p:grpSpPr>{children}</p:grpSp>"
    )


def deck_with(tmp_path, slides, extra_parts=None, slide_rels=None):
    parts = deck_parts(slides)
    for index, relationships in (slide_rels or {}).items():
        parts[f"ppt/slides/_rels/slide{index}.xml.rels"] = relationships_xml(relationships)
    parts.update(extra_parts or {})
    return write_package(tmp_path / "deck.pptx", parts)


def test_text_box_slide_as_exact_json(tmp_path):
    path = deck_with(tmp_path, [slide_xml(text_box(2, "Box", "Grüße &amp; more", 1, 2, 3, 4))])
    shape = {
        "id": "2", "name": "Box", "kind": "shape", "is_placeholder": False,
        "placeholder_type": None, "placeholder_idx": None, "text": "Grüße & more",
        "paragraphs": ["Grüße & more"], "paragraph_runs": [["Grüße & more"]], "paragraph_line_breaks": [[]],
        "paragraph_run_bold": [[None]], "paragraph_run_italic": [[None]], "paragraph_run_underline": [[None]],
        "paragraph_run_font_size": [[None]], "paragraph_run_font_name": [[None]], "tables": [],
        "relationship_ids": [], "has_chart": False, "has_picture": False, "has_group": False,
        "transform": {"x": 1, "y": 2, "cx": 3, "cy": 4}, "effective_transform": {"x": 1, "y": 2, "cx": 3, "cy": 4},
        "children": [],
    }
    layout = {"id": "rId1", "relationship_type": REL + "slideLayout",
              "target": "../slideLayouts/slideLayout1.xml", "target_mode": None}
    slide = {
        "part": "ppt/slides/slide1.xml", "texts": ["Grüße&more"], "shapes": [shape], "tables": [], "notes": [],
        "relationships": [layout], "image_relationships": [], "chart_relationships": [],
        "comment_relationships": [], "media_relationships": [], "ole_relationships": [],
        "has_transition": False, "has_timing": False,
    }
    expected = {"path": str(path), "slide_count": 1, "slides": [slide], "has_vba": False}
    assert zn.summarize_presentation_json(str(path)) == json.dumps(expected, indent=2, ensure_ascii=False)
    assert zn.summarize_slide_at_index_json(path=str(path), slide_index=0) == json.dumps(slide, indent=2, ensure_ascii=False)


def test_each_kind_of_shape(tmp_path):
    table = "<a:tbl><a:tblGrid/><a:tr>" + cell("a") + "</a:tr></a:tbl>"
    shapes = (
        text_box(2, "Text", "t")
        + picture(3, "rId2")
        + picture(4, "rId3", '<a:videoFile r:link="rId4"/>')
        + graphic_frame(5, table)
        + graphic_frame(6, '<p:oleObj r:id="rId5"><p:embed/></p:oleObj>')
        + graphic_frame(7, '<c:chart r:id="rId6"/>')
        + group(8, "", text_box(9, "Inner", "i"))
        + '<p:cxnSp><p:nvCxnSpPr><p:cNvPr id="10" name="Line"/></p:nvCxnSpPr><p:spPr/></p:cxnSp>'
    )
    shapes_out = summary(deck_with(tmp_path, [slide_xml(shapes)]))["slides"][0]["shapes"]
    facts = [(s["kind"], s["has_picture"], s["has_group"], s["has_chart"], s["relationship_ids"]) for s in shapes_out]
    assert facts == [
        ("shape", False, False, False, []),
        ("picture", True, False, False, ["rId2"]),
        ("movie", False, False, False, ["rId3", "rId4"]),
        ("graphic_frame", False, False, False, []),
        ("ole_object", False, False, False, ["rId5"]),
        ("graphic_frame", False, False, True, ["rId6"]),
        ("group", False, True, False, []),
        ("connector", False, False, False, []),
    ]
    assert shapes_out[3]["tables"] == [{"rows": [["a"]], "row_count": 1, "col_count": 1}]
    assert [c["name"] for c in shapes_out[6]["children"]] == ["Inner"]


def test_placeholders(tmp_path):
    shapes = placeholder(2, "title", "0") + group(3, "", placeholder(4, "body", "1"))
    title, holder = summary(deck_with(tmp_path, [slide_xml(shapes)]))["slides"][0]["shapes"]
    assert (title["is_placeholder"], title["placeholder_type"], title["placeholder_idx"]) == (True, "title", "0")
    assert title["transform"] is None and title["effective_transform"] is None
    assert title["paragraph_run_bold"] == [[True]] and title["paragraph_run_font_size"] == [[4400]]
    # a group reports the placeholder data of its child
    assert (holder["is_placeholder"], holder["placeholder_type"], holder["placeholder_idx"]) == (True, "body", "1")


def test_nested_groups_map_children_to_slide_coordinates(tmp_path):
    inner = group(
        4,
        XFRM.format(1000, 0, 1000, 1000).replace("</a:xfrm>", '<a:chOff x="0" y="0"/><a:chExt cx="500" cy="250"/></a:xfrm>'),
        text_box(5, "Leaf", "leaf", 100, 50, 10, 10),
    )
    outer = group(
        2,
        XFRM.format(1000, 2000, 4000, 2000).replace("</a:xfrm>", '<a:chOff x="0" y="0"/><a:chExt cx="2000" cy="1000"/></a:xfrm>'),
        text_box(3, "Child", "child", 500, 500, 1000, 1000) + inner,
    )
    (shape,) = summary(deck_with(tmp_path, [slide_xml(outer)]))["slides"][0]["shapes"]
    child, nested = shape["children"]
    assert child["transform"] == {"x": 500, "y": 500, "cx": 1000, "cy": 1000}
    assert child["effective_transform"] == {"x": 2000, "y": 3000, "cx": 2000, "cy": 2000}
    assert nested["effective_transform"] == {"x": 3000, "y": 2000, "cx": 2000, "cy": 2000}
    # 100 of 500 across 2000, 50 of 250 across 2000
    assert nested["children"][0]["effective_transform"] == {"x": 3400, "y": 2400, "cx": 40, "cy": 80}
    assert shape["paragraphs"] == ["child", "leaf"] and shape["text"] == "child\nleaf"


def test_table_with_merged_cells_lists_every_cell(tmp_path):
    rows = (
        '<a:tr h="1">' + cell("Wide", ' gridSpan="2"') + '<a:tc hMerge="1"/>' + cell("c") + "</a:tr>"
        '<a:tr h="1">' + cell("Tall", ' rowSpan="2"') + cell("x") + cell("y") + "</a:tr>"
        '<a:tr h="1">' + cell("", ' vMerge="1"') + cell("z") + "</a:tr>"
    )
    slide = summary(deck_with(tmp_path, [slide_xml(graphic_frame(2, f"<a:tbl>{rows}</a:tbl>"))]))["slides"][0]
    expected = {"rows": [["Wide", "", "c"], ["Tall", "x", "y"], ["", "z"]], "row_count": 3, "col_count": 3}
    assert slide["tables"] == [expected]
    assert slide["shapes"][0]["tables"] == [expected]


def test_notes_transition_timing_and_filtered_relationships(tmp_path):
    notes = (
        '<?xml version="1.0"?><p:notes xmlns:a="a" xmlns:p="p"><p:cSld><p:spTree>'
        "<a:p><a:r><a:t> Say </a:t></a:r><a:r><a:t>this &amp; that</a:t></a:r></a:p></p:spTree></p:cSld></p:notes>"
    )
    first = slide_xml(text_box(2, "A", "one")).replace("</p:sld>", '<p:transition spd="fast"/></p:sld>')
    second = slide_xml(text_box(2, "B", "two")).replace("</p:sld>", "<p:timing><p:tnLst/></p:timing></p:sld>")
    rels = {
        1: [("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"), ("rId2", "notesSlide", "../notesSlides/notesSlide1.xml"),
            ("rId3", "image", "../media/image1.png"), ("rId4", "comments", "../comments/comment1.xml"),
            ("rId5", "audio", "../media/a.wav"), ("rId6", "package", "../embeddings/x.xlsx"),
            ("rId7", "hyperlink", "https://example.com", "External")],
        2: [("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"), ("rId2", "notesSlide", "../notesSlides/gone.xml")],
    }
    path = deck_with(tmp_path, [first, second], {"ppt/notesSlides/notesSlide1.xml": notes, "ppt/vbaProject.bin": b"x"}, rels)
    presentation = summary(path)
    one, two = presentation["slides"]
    assert presentation["has_vba"] is True
    assert one["notes"] == ["Say", "this&that"] and two["notes"] == []
    assert (one["has_transition"], one["has_timing"], two["has_transition"], two["has_timing"]) == (True, False, False, True)
    assert [r["id"] for r in one["relationships"]] == ["rId1", "rId2", "rId3", "rId4", "rId5", "rId6", "rId7"]
    assert one["relationships"][6]["target_mode"] == "External"
    assert [r["id"] for r in one["image_relationships"]] == ["rId3"]
    assert [r["id"] for r in one["comment_relationships"]] == ["rId4"]
    assert [r["id"] for r in one["media_relationships"]] == ["rId5"]
    assert [r["id"] for r in one["ole_relationships"]] == ["rId6"]
    assert one["chart_relationships"] == []


def test_slide_without_shape_tree_still_has_texts_and_tables(tmp_path):
    bare = (
        '<p:sld xmlns:a="a" xmlns:p="p"><p:cSld><a:tbl><a:tr>' + cell("loose") + "</a:tr></a:tbl>"
        "<a:t>  spaced  </a:t><a:t>   </a:t></p:cSld></p:sld>"
    )
    slide = summary(deck_with(tmp_path, [bare]))["slides"][0]
    assert slide["shapes"] == []
    assert slide["texts"] == ["loose", "spaced"]
    assert slide["tables"][0]["rows"] == [["loose"]]


def test_ole_frame_and_group_keep_their_own_transforms(tmp_path):
    ole = graphic_frame(2, '<p:oleObj r:id="rId2"><p:embed/>' + picture(3, "rId3") + "</p:oleObj>")
    bare_group = group(4, "", text_box(5, "Inside", "in", 7, 8, 9, 10))
    ole_out, group_out = summary(deck_with(tmp_path, [slide_xml(ole + bare_group)]))["slides"][0]["shapes"]
    assert ole_out["kind"] == "ole_object"
    assert ole_out["transform"] == {"x": 1, "y": 2, "cx": 3, "cy": 4}
    assert group_out["transform"] is None
    assert group_out["children"][0]["effective_transform"] == {"x": 7, "y": 8, "cx": 9, "cy": 10}


def test_deeply_nested_groups_summarise(tmp_path):
    depth = 300
    opening = "".join(group(i + 2, XFRM.format(0, 0, 10, 10), "").replace("</p:grpSp>", "") for i in range(depth))
    shapes = opening + text_box(1, "Core", "core") + "</p:grpSp>" * depth
    shape = summary(deck_with(tmp_path, [slide_xml(shapes)]))["slides"][0]["shapes"][0]
    for _ in range(depth):
        assert shape["kind"] == "group" and shape["text"] == "core"
        (shape,) = shape["children"]
    assert shape["name"] == "Core"


def test_index_and_argument_errors(tmp_path):
    path = deck_with(tmp_path, [slide_xml()])
    with pytest.raises(RuntimeError, match="^invalid input: slide index 1 was not found$"):
        zn.summarize_slide_at_index_json(str(path), 1)
    with pytest.raises(RuntimeError, match="^invalid input: slide index 18446744073709551615 was not found$"):
        zn.summarize_slide_at_index_json(str(path), 2**64 - 1)
    with pytest.raises((OverflowError, TypeError, ValueError)):
        zn.summarize_slide_at_index_json(str(path), -1)
    with pytest.raises(RuntimeError, match="^io error: "):
        zn.summarize_presentation_json(str(tmp_path / "absent.pptx"))
    (tmp_path / "text.pptx").write_text("plain text")
    with pytest.raises(RuntimeError, match="^zip error: "):
        zn.summarize_presentation_json(str(tmp_path / "text.pptx"))
