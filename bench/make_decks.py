"""Generates the benchmark decks into bench/data/ (never committed).

- media-heavy: 1,000 slides, each with a picture of its own (about 200 KB of
  real image bytes from the corpus, made unique per slide), about 200 MB and
  over 3,000 entries: the cost of an edit is moving bytes.
- xml-heavy: 1,000 slides of 40 text shapes each with text taken from corpus
  slides, no media: the cost of an edit is handling parts.
"""

import hashlib
import pathlib
import random
import re
import sys
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(REPO / "tests"))

from fixtures import deck_parts, relationships_xml, slide_xml, text_box, write_package  # noqa: E402

CORPUS = REPO.parent / "shared" / "corpus"
DATA = HERE / "data"
SLIDES = 1000
IMAGE_BYTES = 200 * 1024


def corpus_images():
    images = []
    for deck in sorted(CORPUS.glob("*.pptx")):
        with zipfile.ZipFile(deck) as archive:
            for name in archive.namelist():
                if re.search(r"ppt/media/.*\.(png|jpe?g)$", name):
                    data = archive.read(name)
                    if len(data) > 20_000:
                        images.append(data)
    if not images:  # no corpus beside the repository: incompressible stand-ins
        images = [hashlib.sha256(str(i).encode()).digest() * 4096 for i in range(8)]
    return images


def corpus_words():
    words = []
    for deck in sorted(CORPUS.glob("*.pptx"))[:20]:
        with zipfile.ZipFile(deck) as archive:
            for name in archive.namelist():
                if name.startswith("ppt/slides/slide"):
                    words += re.findall(r"<a:t>([A-Za-z]{3,20})</a:t>", archive.read(name).decode("utf-8", "replace"))
    return words or ["alpha", "beta", "gamma", "delta"]


def picture(shape_id, rel_id):
    return (
        f'<p:pic><p:nvPicPr><p:cNvPr id="{shape_id}" name="Picture {shape_id}"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr>'
        f'<p:blipFill><a:blip r:embed="{rel_id}"/><a:stretch><a:fillRect/></a:stretch></p:blipFill>'
        '<p:spPr><a:xfrm><a:off x="914400" y="914400"/><a:ext cx="3657600" cy="2743200"/></a:xfrm>'
        '<a:prstGeom prst="rect"><a:avLst/></a:prstGeom></p:spPr></p:pic>'
    )


def image_for_slide(images, index):
    # a real image, padded with seeded noise so every slide's bytes are
    # unique and do not compress away
    base = images[index % len(images)][:IMAGE_BYTES]
    return base + random.Random(index).randbytes(IMAGE_BYTES - len(base))


def media_heavy(path):
    images = corpus_images()
    slides = [slide_xml(text_box(2, "Title", f"Slide {i + 1}") + picture(3, "rId2")) for i in range(SLIDES)]
    parts = deck_parts(slides)
    for i in range(1, SLIDES + 1):
        parts[f"ppt/slides/_rels/slide{i}.xml.rels"] = relationships_xml(
            [("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"), ("rId2", "image", f"../media/image{i}.png")]
        )
        parts[f"ppt/media/image{i}.png"] = image_for_slide(images, i)
    write_package(path, parts)


def xml_heavy(path):
    words = corpus_words()
    slides = []
    for i in range(SLIDES):
        shapes = "".join(
            text_box(2 + s, f"Text {s}", " ".join(words[(i * 40 + s + k) % len(words)] for k in range(6)), y=s * 12700)
            for s in range(40)
        )
        slides.append(slide_xml(shapes))
    write_package(path, deck_parts(slides))


def ensure_decks():
    DATA.mkdir(exist_ok=True)
    decks = {"media-heavy": DATA / "media-heavy.pptx", "xml-heavy": DATA / "xml-heavy.pptx"}
    if not decks["media-heavy"].exists():
        media_heavy(decks["media-heavy"])
    if not decks["xml-heavy"].exists():
        xml_heavy(decks["xml-heavy"])
    return decks


if __name__ == "__main__":
    for name, path in ensure_decks().items():
        with zipfile.ZipFile(path) as archive:
            print(f"{name}: {path} {path.stat().st_size / 1e6:.1f} MB, {len(archive.infolist())} entries")
