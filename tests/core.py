#!/usr/bin/env python3
# The portable core against a table of cases in tests/core.
#
# A row of a table is the expected result, then the cases, separated by blanks and written
# as notation.py reads them; a row of the result alone has one empty case, and the result
# "=" stands for each case itself. The cases of the image table are the built stub changed
# as image.txt says.
#
#   core.py TABLE STUB CORE_TEST...   checks TABLE with the command CORE_TEST...
#   core.py --seeds FOLDER STUB       writes every case of every table as a fuzzer seed

import os
import subprocess
import sys
import tempfile

from notation import unescape

TABLES = ["settings", "layout", "journal", "image"]
HERE = os.path.dirname(os.path.abspath(__file__))


def number_at(data, at, size):
    return int.from_bytes(data[at : at + size], "little")


def put(data, at, size, value):
    return data[:at] + value.to_bytes(size, "little") + data[at + size :]


# The stub changed by changes separated by commas, in turn: "cut=N" keeps its first N
# bytes (drops -N from its end when negative); "sign=N" appends a certificate table of N
# bytes with a plausible entry; "AT:SIZE=VALUE" sets SIZE bytes at AT, which counts from
# the start, or after "pe+" from the PE header, after "sec+" from the last section's
# entry, after "cert+" from the certificate table.
def patched(stub, changes):
    image = stub
    pe = number_at(stub, 0x3C, 4)
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


def cases(table, stub):
    # (expected result, case as written, input) for every case of the table; an input begins with
    # the table's initial, which tells the core which reader it is for.
    found = []
    for line in open(os.path.join(HERE, "core", table + ".txt")):
        words = line.split()
        if not words or words[0].startswith("#"):
            continue
        for case in words[1:] or [""]:
            if table == "image":
                data = patched(stub, case)
            else:
                data = unescape(case)
            want = data.decode() if words[0] == "=" else words[0]
            found.append((want, case, table[0].encode() + data))
    return found


def write_inputs(folder, found):
    for number, (_, _, data) in enumerate(found):
        with open(os.path.join(folder, str(number)), "wb") as file:
            file.write(data)


def check(table, stub, command):
    found = cases(table, stub)
    with tempfile.TemporaryDirectory() as folder:
        write_inputs(folder, found)
        if command[-1].endswith(".exe"):
            folder = "Z:" + folder.replace("/", "\\")
        output = subprocess.run(command + [folder], stdout=subprocess.PIPE, text=True).stdout
    results = dict(line.split(" ", 1) for line in output.splitlines())
    failures = 0
    for number, (want, case, _) in enumerate(found):
        got = results.get(str(number))
        if got != want:
            print(f"FAIL {table}: {case}\n  want {want}\n  got  {got}")
            failures += 1
    print(f"{len(found) - failures} passed, {failures} failed")
    return failures


def main():
    stub = open(sys.argv[3] if sys.argv[1] == "--seeds" else sys.argv[2], "rb").read()
    if sys.argv[1] != "--seeds":
        return check(sys.argv[1], stub, sys.argv[3:]) != 0
    for table in TABLES:
        folder = os.path.join(sys.argv[2], table)
        os.makedirs(folder, exist_ok=True)
        write_inputs(folder, cases(table, stub))
    return 0


sys.exit(main())
