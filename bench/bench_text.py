"""replace_slide_text_json across all slides: on the media-heavy deck against
`cp` of the file (untouched entries must not be recompressed), and on the
XML-heavy deck against python-pptx replacing the same text in every run of
every slide and saving."""

import collections
import pathlib
import re
import tempfile
import zipfile

import pptx

import zandrel_native as zn
from timing import best_of, copy_seconds, report

SLIDE = re.compile(r"^ppt/slides/slide[0-9]+\.xml$")
TEXT = re.compile(rb"<a:t>([^<]*)</a:t>")


def slide_texts(path):
    """The text elements of every slide part, by part name."""
    with zipfile.ZipFile(path) as archive:
        return {n: TEXT.findall(archive.read(n)) for n in archive.namelist() if SLIDE.match(n)}


def python_pptx_replace(source, target, search, replacement):
    count = 0
    deck = pptx.Presentation(str(source))
    for slide in deck.slides:
        for shape in slide.shapes:
            if not shape.has_text_frame:
                continue
            for paragraph in shape.text_frame.paragraphs:
                for run in paragraph.runs:
                    if search in run.text:
                        count += run.text.count(search)
                        run.text = run.text.replace(search, replacement)
    deck.save(str(target))
    return count


def most_common_word(path):
    words = collections.Counter(w for texts in slide_texts(path).values() for t in texts for w in t.split())
    return words.most_common(1)[0][0].decode()


def check_media(source, output, result):
    assert result == 1000, f"expected 1000 replacements, got {result}"
    with zipfile.ZipFile(source) as before, zipfile.ZipFile(output) as after:
        old = {i.filename: i for i in before.infolist()}
        for info in after.infolist():
            assert info.date_time == (1980, 1, 1, 0, 0, 0), info.filename
            if info.filename.startswith("ppt/media/"):
                # same compressed size and CRC: the bytes were moved, not recompressed
                assert (info.compress_size, info.CRC) == (old[info.filename].compress_size, old[info.filename].CRC)
        assert after.read("ppt/slides/slide7.xml").count(b"<a:t>Page 7</a:t>") == 1


def run(decks):
    media, xml = pathlib.Path(decks["media-heavy"]), pathlib.Path(decks["xml-heavy"])
    with tempfile.TemporaryDirectory(dir=media.parent) as folder:
        folder = pathlib.Path(folder)

        out = folder / "media-out.pptx"
        media_seconds, media_json = best_of(
            3, lambda: zn.replace_slide_text_json(str(media), str(out), "Slide", "Page"), fresh_output=out)
        check_media(media, out, int(re.search(r'"replacements": (\d+)', media_json).group(1)))
        cp_seconds = copy_seconds(media)

        word = most_common_word(xml)
        ours_out, theirs_out = folder / "xml-ours.pptx", folder / "xml-python-pptx.pptx"
        ours_seconds, ours_json = best_of(3, lambda: zn.replace_slide_text_json(str(xml), str(ours_out), word, "REPLACED"))
        theirs_seconds, theirs_count = best_of(1, lambda: python_pptx_replace(xml, theirs_out, word, "REPLACED"))
        ours_count = int(re.search(r'"replacements": (\d+)', ours_json).group(1))
        # results are checked before any timing is believed
        assert ours_count == theirs_count > 0, (ours_count, theirs_count)
        assert slide_texts(ours_out) == slide_texts(theirs_out), "slide texts differ from python-pptx's"

    report("replace_slide_text_json", [
        ("media-heavy deck", f"{media.stat().st_size / 1e6:.0f} MB, 1000 replacements"),
        ("zandrel", f"{media_seconds:.3f} s"),
        ("cp of the file", f"{cp_seconds:.3f} s"),
        ("time / cp (<= 2)", f"{media_seconds / cp_seconds:.2f}x"),
        ("xml-heavy deck", f"{xml.stat().st_size / 1e6:.1f} MB, {ours_count} replacements of {word!r}"),
        ("zandrel", f"{ours_seconds:.3f} s"),
        ("python-pptx (every run of every slide, save)", f"{theirs_seconds:.3f} s"),
        ("speed-up over python-pptx (>= 20)", f"{theirs_seconds / ours_seconds:.1f}x"),
    ])


if __name__ == "__main__":
    import sys

    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
    from make_decks import ensure_decks

    run(ensure_decks())
