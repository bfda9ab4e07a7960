#!/usr/bin/env python3
"""Builds Ostrel's program signature resource (RCDATA 131) from a readable list,
and decodes such a resource back into the readable list.

    signature_list.py build LIST.txt OUT.bin
    signature_list.py decode IN.bin [OUT.txt]

The resource is a 16-byte header followed by 133-byte records, each stored with
the two 4-bit halves of every byte exchanged. The readable list holds one record
per line ('#' starts a comment line):

    window  title="CCProxy" compare=7 class="" module="CCProxy.exe" flags=title,module
    version company="Youngzsoft" internal="CCProxy" original="CCProxy.exe" product="CCProxy"
    raw     hex=<266 hex digits>     (a record that the two forms cannot express)

A window record matches a top-level window: flags choose which of the title (its
first `compare` characters), the class name and the owning process's module name
must agree. A version record matches a running program when three of its
non-empty texts agree with the program's version texts (the company as a prefix).
Every text is at most 31 characters, so that it ends within its 32-byte field.
"""
import shlex
import sys

HEADER = bytes([0x4F, 0x53, 0x54, 0x52, 0x45, 0x4C, 0x20, 0x53,
                0x49, 0x47, 0x4E, 0x53, 0x01, 0x00, 0x1B, 0x85])
RECORD = 133
FIELD = 32
FLAG_NAMES = {"title": 1, "class": 2, "module": 4}
WINDOW_FIELDS = ("title", "compare", "class", "module", "flags")
VERSION_FIELDS = ("company", "internal", "original", "product")
VERSION_AT = (1, 34, 67, 100)


class ListError(ValueError):
    pass


def swap(data):
    return bytes(((b << 4) | (b >> 4)) & 0xFF for b in data)


def put_text(record, at, text, where):
    raw = text.encode("latin-1")
    if len(raw) >= FIELD:
        raise ListError(f"{where}: '{text}' is longer than {FIELD - 1} characters")
    if b"\0" in raw:
        raise ListError(f"{where}: a text cannot hold a zero byte")
    record[at:at + len(raw)] = raw


def window_record(fields, where):
    unknown = set(fields) - set(WINDOW_FIELDS)
    if unknown:
        raise ListError(f"{where}: unknown fields {sorted(unknown)}")
    record = bytearray(RECORD)
    record[0] = 0
    title = fields.get("title", "")
    put_text(record, 1, title, where)
    compare = int(fields.get("compare", len(title.encode("latin-1"))))
    if not 0 <= compare <= 255:
        raise ListError(f"{where}: compare must be 0..255")
    record[33] = compare
    put_text(record, 34, fields.get("class", ""), where)
    put_text(record, 66, fields.get("module", ""), where)
    flags = 0
    for name in filter(None, fields.get("flags", "").split(",")):
        if name.isdigit():
            flags |= int(name)
        elif name in FLAG_NAMES:
            flags |= FLAG_NAMES[name]
        else:
            raise ListError(f"{where}: unknown flag '{name}'")
    if flags > 255:
        raise ListError(f"{where}: flags out of range")
    record[98] = flags
    return bytes(record)


def version_record(fields, where):
    unknown = set(fields) - set(VERSION_FIELDS)
    if unknown:
        raise ListError(f"{where}: unknown fields {sorted(unknown)}")
    record = bytearray(RECORD)
    record[0] = 1
    for name, at in zip(VERSION_FIELDS, VERSION_AT):
        text = fields.get(name, "")
        put_text(record, at, text, where)
        record[at + FIELD] = len(text.encode("latin-1"))
    return bytes(record)


def raw_record(fields, where):
    try:
        record = bytes.fromhex(fields.get("hex", ""))
    except ValueError as e:
        raise ListError(f"{where}: {e}") from None
    if len(record) != RECORD:
        raise ListError(f"{where}: a raw record has {RECORD} bytes")
    return record


def parse_list(text, name="<list>"):
    """The plain (unscrambled) records of a readable list, in order."""
    records = []
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        where = f"{name}:{number}"
        words = shlex.split(line)
        kind, fields = words[0], {}
        for word in words[1:]:
            key, sep, value = word.partition("=")
            if not sep:
                raise ListError(f"{where}: expected key=value, got '{word}'")
            fields[key] = value
        if kind == "window":
            records.append(window_record(fields, where))
        elif kind == "version":
            records.append(version_record(fields, where))
        elif kind == "raw":
            records.append(raw_record(fields, where))
        else:
            raise ListError(f"{where}: unknown record kind '{kind}'")
    return records


def build(text, name="<list>"):
    return HEADER + b"".join(swap(r) for r in parse_list(text, name))


def field_text(record, at):
    """The text of a field, or None when bytes after its end are not zero."""
    field = record[at:at + FIELD]
    end = field.find(b"\0")
    if end < 0 or any(field[end:]):
        return None
    return field[:end].decode("latin-1")


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def describe(record):
    """One readable line that builds back into exactly these bytes."""
    kind = record[0]
    if kind == 0:
        texts = [field_text(record, at) for at in (1, 34, 66)]
        flags = record[98]
        if None not in texts and not any(record[99:]):
            title, cls, module = texts
            names = [n for n, bit in FLAG_NAMES.items() if flags & bit]
            rest = flags & ~7
            if rest:
                names.append(str(rest))
            return (f"window title={quote(title)} compare={record[33]} class={quote(cls)} "
                    f"module={quote(module)} flags={','.join(names)}")
    elif kind == 1:
        texts = [field_text(record, at) for at in VERSION_AT]
        if None not in texts and all(record[at + FIELD] == len(t.encode("latin-1"))
                                     for at, t in zip(VERSION_AT, texts)):
            return "version " + " ".join(f"{n}={quote(t)}" for n, t in zip(VERSION_FIELDS, texts))
    return "raw hex=" + record.hex()


def decode(resource):
    if len(resource) < len(HEADER) or resource[:len(HEADER)] != HEADER:
        raise ListError("not a signature resource: the header differs")
    body = resource[len(HEADER):]
    if len(body) % RECORD:
        raise ListError(f"a partial record of {len(body) % RECORD} bytes trails the list")
    lines = [describe(swap(body[i:i + RECORD])) for i in range(0, len(body), RECORD)]
    return "\n".join(lines) + ("\n" if lines else "")


def main(argv):
    if len(argv) >= 3 and argv[0] == "build":
        with open(argv[1], encoding="latin-1") as f:
            data = build(f.read(), argv[1])
        with open(argv[2], "wb") as f:
            f.write(data)
        return 0
    if len(argv) in (2, 3) and argv[0] == "decode":
        with open(argv[1], "rb") as f:
            text = decode(f.read())
        if len(argv) == 3:
            with open(argv[2], "w", encoding="latin-1") as f:
                f.write(text)
        else:
            sys.stdout.write(text)
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (ListError, OSError) as e:
        sys.stderr.write(f"signature_list: {e}\n")
        sys.exit(1)
