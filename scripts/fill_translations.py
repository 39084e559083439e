#!/usr/bin/env python3
"""Fills Qt Linguist .ts files from a tab-separated phrase table.

Usage: fill_translations.py phrases.tsv LANG=file.ts [LANG=file.ts ...]
The table's columns are: source text, zh_CN, en_US, kr. Escapes "\\n" and "\\t"
in the table stand for a line feed and a tab. Exits 1 listing sources that the
table lacks (per language), after writing what it could fill.
"""
import sys
import xml.etree.ElementTree as ET

COLUMNS = {"zh_CN": 1, "en_US": 2, "kr": 3}
LANGUAGE = {"zh_CN": "zh_CN", "en_US": "en_US", "kr": "ko_KR"}


def unescape(text):
    return text.replace("\\n", "\n").replace("\\t", "\t")


def load_table(path):
    table = {}
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            cells = line.split("\t")
            if len(cells) != 4 or not all(cells):
                sys.exit(f"{path}:{lineno}: expected 4 non-empty tab-separated cells")
            table[unescape(cells[0])] = [unescape(c) for c in cells]
    return table


def fill(ts_path, lang, table):
    tree = ET.parse(ts_path)
    root = tree.getroot()
    root.set("language", LANGUAGE[lang])
    missing = []
    for message in root.iter("message"):
        source = message.findtext("source")
        translation = message.find("translation")
        if translation is None:
            translation = ET.SubElement(message, "translation")
        row = table.get(source)
        if row is None:
            missing.append(source)
            continue
        translation.text = row[COLUMNS[lang]]
        translation.attrib.pop("type", None)
    tree.write(ts_path, encoding="utf-8", xml_declaration=True)
    return missing


def main():
    table = load_table(sys.argv[1])
    failed = False
    for arg in sys.argv[2:]:
        lang, path = arg.split("=", 1)
        for source in fill(path, lang, table):
            failed = True
            print(f"{path}: no translation for: {source!r}")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
