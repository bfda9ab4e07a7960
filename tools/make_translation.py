#!/usr/bin/env python3
"""Makes a translated interface texts file from the shipped template.

    make_translation.py TEMPLATE TRANSLATION OUTPUT [--encoding CODEPAGE]

TEMPLATE is the English "KELSupplicant.ini" that texts_template writes. TRANSLATION
is a UTF-8 text of "key = text" lines (lines starting with "#" and empty lines are
ignored). The output keeps the template's lines and order and replaces the text of
every key with its translation, encoded in the code page that Windows uses for the
language (the dialer hands the bytes to the window system unconverted), e.g. cp936
for Simplified Chinese.

It refuses (exit status 1, nothing written) a translation that misses a key of the
template or names a key the template lacks, a text that cannot be written in the
code page, holds "#" or a line end, or makes a line longer than 199 bytes: the
dialer would show something else than the translator meant.
"""
import argparse
import re
import sys

MAX_LINE = 199
KEY_LINE = re.compile(r"^(#?)([^#\s=]+) = (.*)$")


def read_translation(path):
    texts = {}
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            key, sep, text = line.partition("=")
            key, text = key.strip(), text.strip(" ")
            if not sep or not key:
                raise ValueError(f"{path}:{number}: not a 'key = text' line")
            if key in texts:
                raise ValueError(f"{path}:{number}: {key} given twice")
            if "#" in text:
                raise ValueError(f"{path}:{number}: a text cannot hold '#'")
            texts[key] = text
    return texts


def translate(template_lines, texts, encoding):
    out, seen = [], set()
    for line in template_lines:
        m = KEY_LINE.match(line)
        if not m:
            out.append(line.encode("ascii"))
            continue
        commented, key = m.group(1), m.group(2)
        if key not in texts:
            if commented:  # a key without built-in text may stay unset
                out.append(line.encode("ascii"))
                continue
            raise ValueError(f"no translation for {key}")
        seen.add(key)
        try:
            encoded = f"{key} = {texts[key]}".encode(encoding)
        except UnicodeEncodeError as e:
            raise ValueError(f"{key}: {e.object[e.start:e.end]!r} has no {encoding} code") from e
        if len(encoded) > MAX_LINE:
            raise ValueError(f"{key}: the line is {len(encoded)} bytes, at most {MAX_LINE} fit")
        out.append(encoded)
    unknown = sorted(set(texts) - seen)
    if unknown:
        raise ValueError("keys the template does not have: " + ", ".join(unknown))
    return out


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("template")
    p.add_argument("translation")
    p.add_argument("output")
    p.add_argument("--encoding", default="cp936")
    a = p.parse_args()
    with open(a.template, "rb") as f:
        template = f.read().decode("ascii").replace("\r\n", "\n").split("\n")
    if template and template[-1] == "":
        template.pop()
    try:
        lines = translate(template, read_translation(a.translation), a.encoding)
    except ValueError as e:
        print(f"make_translation: {e}", file=sys.stderr)
        return 1
    with open(a.output, "wb") as f:
        f.write(b"".join(line + b"\r\n" for line in lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
