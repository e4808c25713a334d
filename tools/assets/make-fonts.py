#!/usr/bin/python3
"""Builds the program's BrownPro font files from the OFL-licensed League Spartan.

The QML asks for three family names: "BrownPro" (titles, buttons; regular and bold), "BrownPro Light"
(body text) and "BrownPro Regular" (the installer's body text). Every file carries a legacy family name
(name id 1, what Windows and older matchers see) and a typographic family (ids 16/17, what fontconfig
adds), so the three names resolve on both platforms:

  Thin, Light            legacy "BrownPro Thin" / "BrownPro Light", typographic "BrownPro"
  Regular, Bold, ...     legacy "BrownPro" (regular/bold/italic linking)
  *Alt                   legacy "BrownPro Regular": the source's first stylistic set made the default
  Reclin*                "BrownPro Reclin...": back-slanted

The source has no italics; italic and reclined faces are obliques made by shearing the outlines.
Usage: make-fonts.py OUTDIR [SOURCEDIR]
"""
import math
import os
import sys

from fontTools.pens.boundsPen import BoundsPen
from fontTools.pens.t2CharStringPen import T2CharStringPen
from fontTools.pens.transformPen import TransformPen
from fontTools.ttLib import TTFont

SOURCE_DIR = "/usr/share/fonts/opentype/league-spartan"

# file stem: (source weight, usWeightClass, slant degrees (+ italic, - reclined), alternates, legacy family,
#             legacy style, typographic family, typographic style)
FACES = {
    "Thin": ("ExtraLight", 100, 0, False, "BrownPro Thin", "Regular", "BrownPro", "Thin"),
    "ThinItalic": ("ExtraLight", 100, 10, False, "BrownPro Thin", "Italic", "BrownPro", "Thin Italic"),
    "Light": ("Light", 300, 0, False, "BrownPro Light", "Regular", "BrownPro", "Light"),
    "LightItalic": ("Light", 300, 10, False, "BrownPro Light", "Italic", "BrownPro", "Light Italic"),
    "Regular": ("Regular", 400, 0, False, "BrownPro", "Regular", None, None),
    "Italic": ("Regular", 400, 10, False, "BrownPro", "Italic", None, None),
    "Bold": ("Bold", 700, 0, False, "BrownPro", "Bold", None, None),
    "BoldItalic": ("Bold", 700, 10, False, "BrownPro", "Bold Italic", None, None),
    "RegularAlt": ("Regular", 400, 0, True, "BrownPro Regular", "Regular", None, None),
    "ItalicAlt": ("Regular", 400, 10, True, "BrownPro Regular", "Italic", None, None),
    "BoldAlt": ("Bold", 700, 0, True, "BrownPro Regular", "Bold", None, None),
    "BoldItalicAlt": ("Bold", 700, 10, True, "BrownPro Regular", "Bold Italic", None, None),
    "ReclinThin": ("ExtraLight", 100, -10, False, "BrownPro Reclin Thin", "Regular", "BrownPro Reclin", "Thin"),
    "ReclinLight": ("Light", 300, -10, False, "BrownPro Reclin Light", "Regular", "BrownPro Reclin", "Light"),
    "ReclinRegular": ("Regular", 400, -10, False, "BrownPro Reclin", "Regular", None, None),
    "ReclinBold": ("Bold", 700, -10, False, "BrownPro Reclin", "Bold", None, None),
    "ReclinRegularAlt": ("Regular", 400, -10, True, "BrownPro Reclin Alt", "Regular", None, None),
    "ReclinBoldAlt": ("Bold", 700, -10, True, "BrownPro Reclin Alt", "Bold", None, None),
}


def apply_stylistic_set(font, tag="ss01"):
    """Points the character map at the alternates of one single-substitution feature."""
    gsub = font["GSUB"].table
    mapping = {}
    for record in gsub.FeatureList.FeatureRecord:
        if record.FeatureTag != tag:
            continue
        for index in record.Feature.LookupListIndex:
            lookup = gsub.LookupList.Lookup[index]
            for sub in lookup.SubTable:
                if lookup.LookupType == 7:
                    sub = sub.ExtSubTable
                if hasattr(sub, "mapping"):
                    mapping.update(sub.mapping)
    for table in font["cmap"].tables:
        for code, glyph in list(table.cmap.items()):
            if glyph in mapping:
                table.cmap[code] = mapping[glyph]
    return len(mapping)


def shear(font, degrees):
    """Slants every outline about the baseline; advances stay, so spacing and kerning keep working."""
    factor = math.tan(math.radians(degrees))
    cff = font["CFF "].cff
    top = cff[cff.fontNames[0]]
    private = top.Private
    glyph_set = font.getGlyphSet()
    hmtx = font["hmtx"]
    drawn = {}
    for name in font.getGlyphOrder():
        advance = hmtx[name][0]
        width = None if advance == private.defaultWidthX else advance - private.nominalWidthX
        pen = T2CharStringPen(width, glyph_set)
        glyph_set[name].draw(TransformPen(pen, (1, 0, factor, 1, 0, 0)))
        bounds = BoundsPen(glyph_set)
        glyph_set[name].draw(TransformPen(bounds, (1, 0, factor, 1, 0, 0)))
        drawn[name] = (pen.getCharString(private=private, globalSubrs=cff.GlobalSubrs), bounds.bounds)
    for name, (charstring, box) in drawn.items():
        top.CharStrings[name] = charstring
        hmtx[name] = (hmtx[name][0], int(math.floor(box[0])) if box else 0)
    font["post"].italicAngle = -degrees
    font["hhea"].caretSlopeRise = 1000
    font["hhea"].caretSlopeRun = int(round(1000 * factor))


def set_names(font, stem, legacy_family, legacy_style, typo_family, typo_style, italic):
    name = font["name"]
    full = legacy_family if legacy_style == "Regular" else f"{legacy_family} {legacy_style}"
    postscript = f"BrownPro-{stem}"
    for record in list(name.names):
        if record.nameID in (1, 2, 3, 4, 6, 16, 17, 18, 21, 22):
            name.removeNames(nameID=record.nameID)
    entries = {1: legacy_family, 2: legacy_style, 3: f"2.002;ARCA;{postscript}", 4: full, 6: postscript}
    if typo_family:
        entries[16] = typo_family
        entries[17] = typo_style
    for name_id, text in entries.items():
        name.setName(text, name_id, 3, 1, 0x409)
        name.setName(text, name_id, 1, 0, 0)
    top = font["CFF "].cff
    top.fontNames = [postscript]
    cff_top = top[0]
    cff_top.FullName = full
    cff_top.FamilyName = typo_family or legacy_family
    os2 = font["OS/2"]
    bold = legacy_style.startswith("Bold")
    selection = 0
    if italic:
        selection |= 1 << 0
    if bold:
        selection |= 1 << 5
    if not italic and not bold:
        selection |= 1 << 6
    os2.fsSelection = (os2.fsSelection & ~0b1100001) | selection
    font["head"].macStyle = (1 if bold else 0) | (2 if italic else 0)


def main():
    out_dir = sys.argv[1]
    source_dir = sys.argv[2] if len(sys.argv) > 2 else SOURCE_DIR
    os.makedirs(out_dir, exist_ok=True)
    for stem, (source, weight, slant, alternates, lfam, lstyle, tfam, tstyle) in FACES.items():
        font = TTFont(os.path.join(source_dir, f"LeagueSpartan-{source}.otf"))
        if alternates:
            apply_stylistic_set(font)
        if slant:
            shear(font, slant)
        set_names(font, stem, lfam, lstyle, tfam, tstyle, slant > 0)
        font["OS/2"].usWeightClass = weight
        path = os.path.join(out_dir, f"BrownPro-{stem}.otf")
        font.save(path)
        print(path)


if __name__ == "__main__":
    main()
