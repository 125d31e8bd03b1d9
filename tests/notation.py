# The notation of the test data: bytes written with escapes, and repeated text.

import re

ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", "0": b"\0", "s": b" "}
REPEAT = re.compile(r"(?<!\\)\{([^{}]*)\}\*(\d+)")


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
