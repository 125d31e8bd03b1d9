#!/usr/bin/env python3
# The portable core against the tables of cases in tests/core, one table a file.
#
# A row of a table is the expected result, then the cases, separated by blanks and written
# as notation.py reads them; a row of the result alone has one empty case, and the result
# "=" stands for each case itself. The cases of the image table are the built stub changed
# as notation.patched reads them.
#
#   core.py check STUB CORE_TEST...   checks every table with the command CORE_TEST...
#   core.py seeds STUB FOLDER         writes every case of every table as a fuzzer seed

import glob
import os
import subprocess
import sys
import tempfile

from notation import number_at, patched, unescape

HERE = os.path.dirname(os.path.abspath(__file__))


# What the core's image reader takes: the file's size, the 8 bytes where its headers put
# the certificate table, and the file's head.
def image_input(image):
    table = number_at(image, number_at(image, 0x3C) + 168)
    head = image[:4096]
    return len(image).to_bytes(8, "little") + image[table : table + 8].ljust(8, b"\0") + head


# (expected result, case as written, input) for every case of every table; an input begins
# with the table's initial, which tells the core which reader it is for.
def cases(stub):
    found = []
    for path in sorted(glob.glob(os.path.join(HERE, "core", "*.txt"))):
        initial = os.path.basename(path)[0]
        for line in open(path):
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            for case in words[1:] or [""]:
                if initial == "i":
                    data = image_input(patched(stub, case))
                else:
                    data = unescape(case)
                want = data.decode() if words[0] == "=" else words[0]
                found.append((want, f"{os.path.basename(path)}: {case}", initial.encode() + data))
    return found


def write_inputs(folder, found):
    for number, (_, _, data) in enumerate(found):
        with open(os.path.join(folder, str(number)), "wb") as file:
            file.write(data)


def check(found, command):
    with tempfile.TemporaryDirectory() as folder:
        write_inputs(folder, found)
        if command[-1].endswith(".exe"):
            folder = "Z:" + folder.replace("/", "\\")
        # Through a file: the Wine session that the first program starts keeps its output
        # open until the last program of any test has ended.
        with tempfile.TemporaryFile() as written:
            subprocess.run(command + [folder], stdout=written, stderr=subprocess.DEVNULL)
            written.seek(0)
            output = written.read().decode()
    results = dict(line.split(" ", 1) for line in output.splitlines())
    failures = 0
    for number, (want, case, _) in enumerate(found):
        got = results.get(str(number))
        if got != want:
            print(f"FAIL {case}\n  want {want}\n  got  {got}")
            failures += 1
    print(f"{len(found) - failures} passed, {failures} failed")
    return failures


def main():
    found = cases(open(sys.argv[2], "rb").read())
    if sys.argv[1] == "check":
        return check(found, sys.argv[3:]) != 0
    os.makedirs(sys.argv[3], exist_ok=True)
    write_inputs(sys.argv[3], found)
    return 0


sys.exit(main())
