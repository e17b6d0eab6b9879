#!/usr/bin/python3
"""Builds the built-in text tables from their UTF-8 sources.

Each source line holds a key, the English text and the German text, separated by
tabs. Every table line the game reads is: the key, tabs, "= ", the text, CR LF.
Game tables are UTF-16LE with a byte-order mark, error tables UTF-8 with one.

    make_tables.py           write the tables beside this script
    make_tables.py --check   only compare; exit 1 when a table is missing or stale
"""

import re
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent

# (source, encoding, {language column: output file})
TABLES = [
    ("GameTexts.src.txt", "utf-16-le", {1: "GameEnglish.txt", 2: "GameGerman.txt"}),
    ("ErrorTexts.src.txt", "utf-8", {1: "ErrorEnglish.txt", 2: "ErrorGerman.txt"}),
]
BOMS = {"utf-16-le": b"\xff\xfe", "utf-8": b"\xef\xbb\xbf"}

# The reader keeps a key in 128 and a text in 2048 characters with the NUL.
MAX_KEY = 127
MAX_TEXT = 2047
KEY_PATTERN = re.compile(r"^[!-~]+$")
FORMAT_PATTERN = re.compile(r"%[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|L|I64|I32|I|w)?[a-zA-Z%]")


class SourceError(Exception):
    pass


def format_specifiers(text):
    return FORMAT_PATTERN.findall(text)


def parsed_length(text, encoding):
    # Length in the reader's units after "\n" collapses to one character:
    # 16-bit units for UTF-16, bytes for UTF-8.
    raw = text.replace("\\n", "\n").encode(encoding)
    return len(raw) // 2 if encoding == "utf-16-le" else len(raw)


def read_source(path, encoding):
    rows = []
    seen = set()
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        where = f"{path.name}:{number}"
        fields = line.split("\t")
        if len(fields) != 3 or not all(fields):
            raise SourceError(f"{where}: want key, English and German text separated by single tabs")
        key = fields[0]
        if not KEY_PATTERN.match(key) or "=" in key or len(key) > MAX_KEY:
            raise SourceError(f"{where}: key {key!r} must be 1 to {MAX_KEY} printable ASCII characters without '='")
        if key in seen:
            raise SourceError(f"{where}: key {key} appears twice")
        seen.add(key)
        for text in fields[1:]:
            # Blanks and '=' before the text count as separators and would be lost.
            if text[0] in " =":
                raise SourceError(f"{where}: text {text!r} must not start with a blank or '='")
            if "\r" in text or "\n" in text:
                raise SourceError(f"{where}: write line breaks as \\n")
            if parsed_length(text, encoding) > MAX_TEXT:
                raise SourceError(f"{where}: text longer than {MAX_TEXT} characters")
        if format_specifiers(fields[1]) != format_specifiers(fields[2]):
            raise SourceError(f"{where}: English and German texts of {key} differ in their % specifiers")
        rows.append(fields)
    if not rows:
        raise SourceError(f"{path.name}: no entries")
    return rows


def render(rows, column, encoding):
    width = max(len(row[0]) for row in rows)
    stop = (width // 8 + 1) * 8
    lines = []
    for row in rows:
        tabs = (stop - len(row[0]) + 7) // 8
        lines.append(row[0] + "\t" * tabs + "= " + row[column] + "\r\n")
    return BOMS[encoding] + "".join(lines).encode(encoding)


def main(argv):
    check = "--check" in argv[1:]
    stale = []
    try:
        for source, encoding, outputs in TABLES:
            rows = read_source(HERE / source, encoding)
            for column, name in outputs.items():
                data = render(rows, column, encoding)
                target = HERE / name
                if check:
                    if not target.exists() or target.read_bytes() != data:
                        stale.append(name)
                else:
                    target.write_bytes(data)
    except SourceError as error:
        print(f"make_tables: {error}", file=sys.stderr)
        return 2
    if stale:
        print("make_tables: stale tables, run make_tables.py: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
