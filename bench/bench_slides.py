"""Slide lifecycle on the generated decks: adding a blank slide, duplicating
and deleting a slide on the media-heavy deck against `cp` of the same file,
and adding a slide on the XML-heavy deck against python-pptx opening the
deck, adding a slide and saving. Every output is checked before any time is
believed."""

import json
import pathlib
import tempfile
import zipfile

import pptx

import zandrel_native as zn
from timing import best_of, copy_seconds, report


def slide_count(path):
    with zipfile.ZipFile(path) as archive:
        assert archive.testzip() is None
        text = archive.read("ppt/presentation.xml").decode("utf-8")
    return text.count("<p:sldId ")


def python_pptx_add(source, target):
    deck = pptx.Presentation(str(source))
    deck.slides.add_slide(deck.slide_layouts[0])
    deck.save(str(target))


def run(decks):
    media = decks["media-heavy"]
    xml = decks["xml-heavy"]
    with tempfile.TemporaryDirectory(dir=pathlib.Path(media).parent) as folder:
        out = pathlib.Path(folder) / "out.pptx"
        slides = slide_count(media)

        def add():
            return json.loads(zn.add_blank_slide_json(str(media), str(out)))

        def duplicate():
            return json.loads(zn.duplicate_slide_json(str(media), str(out), "ppt/slides/slide1.xml"))

        def delete():
            return json.loads(zn.delete_slide_json(str(media), str(out), "ppt/slides/slide1.xml"))

        # results are checked before any timing is believed
        checks = [(add, slides + 1), (duplicate, slides + 1), (delete, slides - 1)]
        for operation, expected in checks:
            operation()
            assert slide_count(out) == expected, operation.__name__
        with zipfile.ZipFile(media) as before, zipfile.ZipFile(out) as after:
            assert "ppt/media/image1.png" not in after.namelist()  # only slide 1 showed it
            assert after.read("ppt/media/image2.png") == before.read("ppt/media/image2.png")

        cp = copy_seconds(media)
        add_seconds, _ = best_of(3, add, fresh_output=out)
        duplicate_seconds, _ = best_of(3, duplicate, fresh_output=out)
        delete_seconds, _ = best_of(3, delete, fresh_output=out)
        size = pathlib.Path(media).stat().st_size
        report("slide lifecycle, media-heavy deck", [
            ("deck", f"{size / 1e6:.0f} MB, {slides} slides"),
            ("cp of the file (anchor)", f"{cp:.3f} s"),
            ("add_blank_slide_json", f"{add_seconds:.3f} s"),
            ("duplicate_slide_json", f"{duplicate_seconds:.3f} s"),
            ("delete_slide_json", f"{delete_seconds:.3f} s"),
            ("add / cp (<= 1.5)", f"{add_seconds / cp:.2f}x"),
            ("duplicate / cp (<= 1.5)", f"{duplicate_seconds / cp:.2f}x"),
            ("delete / cp (<= 2)", f"{delete_seconds / cp:.2f}x"),
        ])

        xml_slides = slide_count(xml)
        reference = pathlib.Path(folder) / "python-pptx.pptx"
        python_pptx_add(xml, reference)
        assert len(pptx.Presentation(str(reference)).slides) == xml_slides + 1
        zn.add_blank_slide_with_layout_json(str(xml), str(out), 0)
        assert len(pptx.Presentation(str(out)).slides) == xml_slides + 1
        ours, _ = best_of(5, lambda: zn.add_blank_slide_with_layout_json(str(xml), str(out), 0))
        theirs, _ = best_of(2, lambda: python_pptx_add(xml, reference))
        report("add a slide, XML-heavy deck", [
            ("deck", f"{pathlib.Path(xml).stat().st_size / 1e6:.1f} MB, {xml_slides} slides"),
            ("zandrel add_blank_slide_with_layout_json", f"{ours:.4f} s"),
            ("python-pptx open, add_slide, save", f"{theirs:.3f} s"),
            ("speed-up (>= 20)", f"{theirs / ours:.0f}x"),
        ])
