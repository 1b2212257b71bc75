"""Builds small .pptx packages from XML strings for the tests.

`deck_parts()` gives the parts of a minimal valid deck (one master, one
layout, a theme and the requested slides); `write_package()` zips any part
mapping, so a test can start from the deck and change or drop single parts.
"""

import zipfile

NS_P = "http://schemas.openxmlformats.org/presentationml/2006/main"
NS_A = "http://schemas.openxmlformats.org/drawingml/2006/main"
NS_R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
NS_PKG_RELS = "http://schemas.openxmlformats.org/package/2006/relationships"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
DECL = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
ROOT_NS = f'xmlns:a="{NS_A}" xmlns:r="{NS_R}" xmlns:p="{NS_P}"'

GROUP_PROPS = (
    '<p:nvGrpSpPr><p:cNvPr id="1" name=""/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>'
    '<p:grpSpPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="0" cy="0"/>'
    '<a:chOff x="0" y="0"/><a:chExt cx="0" cy="0"/></a:xfrm></p:grpSpPr>'
)


def text_box(shape_id, name, text, x=0, y=0, cx=914400, cy=457200):
    """A `p:sp` text box holding one paragraph with one run."""
    return (
        f'<p:sp><p:nvSpPr><p:cNvPr id="{shape_id}" name="{name}"/><p:cNvSpPr txBox="1"/><p:nvPr/>'
        f'</p:nvSpPr><p:spPr><a:xfrm><a:off x="{x}" y="{y}"/><a:ext cx="{cx}" cy="{cy}"/></a:xfrm>'
        '<a:prstGeom prst="rect"><a:avLst/></a:prstGeom></p:spPr>'
        f'<p:txBody><a:bodyPr/><a:lstStyle/><a:p><a:r><a:rPr lang="en-US"/><a:t>{text}</a:t></a:r>'
        '</a:p></p:txBody></p:sp>'
    )


def slide_xml(shapes=""):
    """A slide whose shape tree holds the given shape markup."""
    return (
        f'{DECL}<p:sld {ROOT_NS}><p:cSld><p:spTree>{GROUP_PROPS}{shapes}</p:spTree></p:cSld>'
        '<p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sld>'
    )


def relationships_xml(relationships):
    """Relationship part from (id, type suffix or full type, target[, mode]) tuples."""
    items = []
    for rel in relationships:
        rel_id, rel_type, target = rel[:3]
        full_type = rel_type if "://" in rel_type else REL + rel_type
        mode = f' TargetMode="{rel[3]}"' if len(rel) > 3 else ""
        items.append(f'<Relationship Id="{rel_id}" Type="{full_type}" Target="{target}"{mode}/>')
    return f'{DECL}<Relationships xmlns="{NS_PKG_RELS}">{"".join(items)}</Relationships>'


def _content_types(slide_count):
    ct = "application/vnd.openxmlformats-officedocument.presentationml."
    overrides = [
        ("/ppt/presentation.xml", ct + "presentation.main+xml"),
        ("/ppt/slideMasters/slideMaster1.xml", ct + "slideMaster+xml"),
        ("/ppt/slideLayouts/slideLayout1.xml", ct + "slideLayout+xml"),
        ("/ppt/theme/theme1.xml", "application/vnd.openxmlformats-officedocument.theme+xml"),
    ] + [(f"/ppt/slides/slide{i}.xml", ct + "slide+xml") for i in range(1, slide_count + 1)]
    body = "".join(f'<Override PartName="{n}" ContentType="{t}"/>' for n, t in overrides)
    return (
        f'{DECL}<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Default Extension="png" ContentType="image/png"/>'
        f"{body}</Types>"
    )


def _theme():
    colors = "".join(
        f'<a:{name}><a:srgbClr val="{value}"/></a:{name}>'
        for name, value in [
            ("dk1", "000000"), ("lt1", "FFFFFF"), ("dk2", "1F497D"), ("lt2", "EEECE1"),
            ("accent1", "4F81BD"), ("accent2", "C0504D"), ("accent3", "9BBB59"),
            ("accent4", "8064A2"), ("accent5", "4BACC6"), ("accent6", "F79646"),
            ("hlink", "0000FF"), ("folHlink", "800080"),
        ]
    )
    fonts = '<a:latin typeface="Calibri"/><a:ea typeface=""/><a:cs typeface=""/>'
    fill = '<a:solidFill><a:schemeClr val="phClr"/></a:solidFill>'
    line = f'<a:ln w="9525">{fill}</a:ln>'
    effect = "<a:effectStyle><a:effectLst/></a:effectStyle>"
    return (
        f'{DECL}<a:theme xmlns:a="{NS_A}" name="Office Theme"><a:themeElements>'
        f'<a:clrScheme name="Office">{colors}</a:clrScheme>'
        f'<a:fontScheme name="Office"><a:majorFont>{fonts}</a:majorFont><a:minorFont>{fonts}</a:minorFont></a:fontScheme>'
        f'<a:fmtScheme name="Office"><a:fillStyleLst>{fill * 3}</a:fillStyleLst>'
        f"<a:lnStyleLst>{line * 3}</a:lnStyleLst><a:effectStyleLst>{effect * 3}</a:effectStyleLst>"
        f"<a:bgFillStyleLst>{fill * 3}</a:bgFillStyleLst></a:fmtScheme>"
        "</a:themeElements><a:objectDefaults/><a:extraClrSchemeLst/></a:theme>"
    )


def deck_parts(slides):
    """Parts of a minimal valid deck with the given slide XML texts, in zip order."""
    slide_ids = "".join(
        f'<p:sldId id="{256 + i}" r:id="rId{i + 2}"/>' for i in range(len(slides))
    )
    slide_list = f"<p:sldIdLst>{slide_ids}</p:sldIdLst>" if slides else ""
    parts = {
        "[Content_Types].xml": _content_types(len(slides)),
        "_rels/.rels": relationships_xml([("rId1", "officeDocument", "ppt/presentation.xml")]),
        "ppt/presentation.xml": (
            f'{DECL}<p:presentation {ROOT_NS}>'
            '<p:sldMasterIdLst><p:sldMasterId id="2147483648" r:id="rId1"/></p:sldMasterIdLst>'
            f'{slide_list}<p:sldSz cx="9144000" cy="6858000"/><p:notesSz cx="6858000" cy="9144000"/>'
            "</p:presentation>"
        ),
        "ppt/_rels/presentation.xml.rels": relationships_xml(
            [("rId1", "slideMaster", "slideMasters/slideMaster1.xml")]
            + [(f"rId{i + 2}", "slide", f"slides/slide{i + 1}.xml") for i in range(len(slides))]
            + [(f"rId{len(slides) + 2}", "theme", "theme/theme1.xml")]
        ),
        "ppt/slideMasters/slideMaster1.xml": (
            f'{DECL}<p:sldMaster {ROOT_NS}><p:cSld><p:spTree>{GROUP_PROPS}</p:spTree></p:cSld>'
            '<p:clrMap bg1="lt1" tx1="dk1" bg2="lt2" tx2="dk2" accent1="accent1" accent2="accent2" '
            'accent3="accent3" accent4="accent4" accent5="accent5" accent6="accent6" hlink="hlink" '
            'folHlink="folHlink"/><p:sldLayoutIdLst><p:sldLayoutId id="2147483649" r:id="rId1"/>'
            "</p:sldLayoutIdLst></p:sldMaster>"
        ),
        "ppt/slideMasters/_rels/slideMaster1.xml.rels": relationships_xml(
            [("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"),
             ("rId2", "theme", "../theme/theme1.xml")]
        ),
        "ppt/slideLayouts/slideLayout1.xml": (
            f'{DECL}<p:sldLayout {ROOT_NS} type="blank"><p:cSld name="Blank"><p:spTree>{GROUP_PROPS}'
            "</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sldLayout>"
        ),
        "ppt/slideLayouts/_rels/slideLayout1.xml.rels": relationships_xml(
            [("rId1", "slideMaster", "../slideMasters/slideMaster1.xml")]
        ),
        "ppt/theme/theme1.xml": _theme(),
    }
    for i, slide in enumerate(slides, start=1):
        parts[f"ppt/slides/slide{i}.xml"] = slide
        parts[f"ppt/slides/_rels/slide{i}.xml.rels"] = relationships_xml(
            [("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml")]
        )
    return parts


def write_package(path, parts, compression=zipfile.ZIP_DEFLATED, stored=()):
    """Zips the parts in order; names in `stored` are written without compression."""
    with zipfile.ZipFile(path, "w") as archive:
        for name, content in parts.items():
            data = content.encode("utf-8") if isinstance(content, str) else content
            method = zipfile.ZIP_STORED if name in stored else compression
            archive.writestr(zipfile.ZipInfo(name, date_time=(2024, 5, 6, 7, 8, 10)), data,
                             compress_type=method)
    return path


def write_deck(path, slides=None, **options):
    """A minimal valid deck with the given slides (default: one text box slide)."""
    if slides is None:
        slides = [slide_xml(text_box(2, "TextBox 1", "Hello"))]
    return write_package(path, deck_parts(slides), **options)
