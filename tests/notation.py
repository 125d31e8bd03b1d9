# The notation of the test data: bytes written with escapes, repeated text, and the built
# stub changed in place.

import re

ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", "0": b"\0", "s": b" "}
# A repeated text may hold the escape \{N}.
REPEAT = re.compile(r"(?<!\\)\{((?:\\\{\d+\}|[^{}])*)\}\*(\d+)")


def unescape(text):
    # The bytes that text stands for: the escapes \\n \\r \\t \\0 \\\\ and \\xHH, \\s for a blank,
    # and \\{N} for the byte before it standing N times in all.
    out = bytearray()
    for escape, plain in re.findall(r"\\(x..|\{\d+\}|.)|(.)", text, re.S):
        if plain:
            out += plain.encode()
        elif escape[0] == "x":
            out.append(int(escape[1:], 16))
        elif escape[0] == "{":
            out += out[-1:] * (int(escape[1:-1]) - 1)
        else:
            out += ESCAPES.get(escape, escape.encode())
    return bytes(out)


def expand(text):
    # The text with every {TEXT}*N written out as N copies of TEXT, each # in a copy replaced by the
    # copy's number.
    while match := REPEAT.search(text):
        copies = [match[1].replace("#", str(i)) for i in range(int(match[2]))]
        text = text[: match.start()] + "".join(copies) + text[match.end() :]
    return text


def number_at(data, at, size=4):
    return int.from_bytes(data[at : at + size], "little")


def put(data, at, size, value):
    return data[:at] + value.to_bytes(size, "little") + data[at + size :]


def patched(stub, changes):
    # The stub changed by changes separated by commas, in turn: "cut=N" keeps its first N
    # bytes (drops -N from its end when negative); "sign=N" appends a certificate table of N
    # bytes with a plausible entry; "AT:SIZE=VALUE" sets SIZE bytes at AT, which counts from
    # the start, or after "pe+" from the PE header, after "sec+" from the last section's
    # entry, after "cert+" from the certificate table.
    image = stub
    pe = number_at(stub, 0x3C)
    last_section = pe + 24 + number_at(stub, pe + 20, 2) + 40 * (number_at(stub, pe + 6, 2) - 1)
    bases = {"": 0, "pe": pe, "sec": last_section}
    for change in changes.split(",") if changes else []:
        name, _, value = change.partition("=")
        if name == "cut":
            image = image[: int(value)]
        elif name == "sign":
            bases["cert"] = len(image)
            size = int(value)
            entry = size.to_bytes(4, "little") + b"\0\2\2\0"
            image = put(image + entry + bytes(size - 8), pe + 168, 8, len(image) | size << 32)
        else:
            base, _, place = name.rpartition("+")
            at, size = place.split(":")
            image = put(image, bases[base] + int(at), int(size), int(value, 0))
    return image
