#!/usr/bin/env python3
# The real Quillmere.exe, black box, on the folders that e2e/scenarios.txt describes: lays
# out a scenario's folder, starts the stub under Wine through the probe (e2e/probe.cpp),
# which also stands in for the launcher and the client, and compares the messages, what
# the probe received, the exit code and the whole folder with what the scenario expects.
#
#   e2e.py SCENARIOS NAME STUB PROBE WINE [crash | sweep]
#
# With "crash" the first start's stub is killed at many moments (QUILLMERE_CRASH_KILLS, 8);
# with "sweep" each call of the first start fails in turn.
#
# Nothing that a test starts outlives it or holds its output: programs under Wine write to
# files of the test, and every process whose command line lies under the test's folder is
# ended after each start and at the end, also when the test fails or runs out of time.

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from notation import expand, patched, unescape

MESSAGES = [
    "Could not work out where Quillmere is installed.",
    "An update could not be finished.\n\nA file was in use. Close Tarnvayle if it is still"
    " running, then try again.",
    "Quillmere is missing part of its installation.\n\nExpected to find:\n",
    "Quillmere could not be started.\n\nAntivirus software sometimes blocks this. Allow the"
    " Quillmere folder and try again.",
]
MISSING_PART_END = "\n\nExtract the whole Quillmere folder from the download, keeping it intact."
failures = []


def check(ok, what):
    if not ok:
        print("FAIL", what)
        failures.append(what)


def get(fields, key, otherwise=""):
    return dict(fields).get(key, otherwise)


# The fields of the scenario's first start, and of its second start (empty without
# "again"), each a list of (key, value).
def read_scenario(path, name):
    names = {}
    for line in open(path).read().replace("\n ", " ").splitlines():
        for short, long in sorted(names.items(), reverse=True):
            line = line.replace("$" + short, long)
        if line.startswith("set "):
            short, long = line[4:].split(" ", 1)
            names[short] = long
        if line.split()[:2] != ["==", name]:
            continue
        fields = []
        for item in line.split(";"):
            key, _, value = item.strip().partition(" ")
            fields.append((key, value))
        if ("again", "") not in fields:
            return fields, []
        again = fields.index(("again", ""))
        return fields[:again], fields[again + 1 :]
    sys.exit(f"no scenario {name}")


def under(key, path):
    if path.endswith("/"):
        return key.startswith(path)
    return key == path


# The tree (path: bytes, folders ending in "/") changed by entries: "path" a file that holds
# its own name, "path=bytes", "path/" a folder, "^path..." read-only (then listed in
# read_only); "-path" removes, "a>b" moves and "a>>b" copies a path with all under it.
def apply(tree, entries, read_only=None):
    tree = dict(tree)
    for entry in expand(entries).split():
        head, equals, text = entry.partition("=")
        if head.startswith("-"):
            tree = {key: data for key, data in tree.items() if not under(key, head[1:])}
        elif ">" in head:
            source, arrow, target = re.match(r"(.*?)(>>?)(.*)", head).groups()
            carried = {}
            for key, data in tree.items():
                if under(key, source):
                    carried[target + key[len(source) :]] = data
            # A move replaces what stands at its target; a copy never does.
            if arrow == ">":
                tree = {key: data for key, data in tree.items() if not under(key, source)}
                tree.update(carried)
            else:
                tree = {**carried, **tree}
        else:
            path = head.lstrip("^")
            if head.startswith("^") and read_only is not None:
                read_only.append(path)
            if path.endswith("/"):
                tree[path] = b""
            elif equals:
                tree[path] = KINDS.get(text) or unescape(text)
            else:
                tree[path] = path.rsplit("/", 1)[-1].encode()
    for path in list(tree):
        for slash in re.finditer("/", path[:-1]):
            tree.setdefault(path[: slash.end()], b"")
    return tree


def lay_out():
    # The mounts of a lay-out before, so that they never stack.
    for path in get(FIRST, "mount").split()[::2]:
        subprocess.run(["umount", "-l", os.path.join(ROOT, path)], stderr=subprocess.DEVNULL)
    shutil.rmtree(ROOT, ignore_errors=True)
    # A folder on a small file system of its own: another volume, or a full disk.
    for path, size in re.findall(r"(\S+) (\S+)", get(FIRST, "mount")):
        os.makedirs(os.path.join(ROOT, path))
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", path], cwd=ROOT)
    read_only = []
    for path, data in sorted(apply({}, get(FIRST, "tree"), read_only).items()):
        full = os.path.join(ROOT, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        if not path.endswith("/"):
            with open(full, "wb") as file:
                file.write(data)
    for path in read_only:
        os.chmod(os.path.join(ROOT, path), 0o444)
    # Refused for good, root too, as on Windows by access rights or Controlled Folder Access.
    for path in get(FIRST, "immutable").split():
        subprocess.run(["chattr", "+i", path], cwd=ROOT)
    for path, target in re.findall(r"(\S+) (\S+)", get(FIRST, "link")):
        os.symlink(target, os.path.join(ROOT, path))


def read(path):
    with open(path, "rb") as file:
        return file.read()


def snapshot():
    tree = {}
    for folder, folders, files in os.walk(ROOT):
        base = os.path.relpath(folder, ROOT) + "/" if folder != ROOT else ""
        for name in folders:
            tree[base + name + "/"] = b""
        for name in files:
            tree[base + name] = read(os.path.join(folder, name))
    # A tree that a fill builds bears a name of its start's own: the trees of a folder are
    # ~tree, ~tree2 and so on, in the order of their names.
    aliases = {}

    def alias(match):
        folder = match.string[: match.start()]
        if (folder, match[0]) not in aliases:
            count = len([key for key in aliases if key[0] == folder])
            aliases[(folder, match[0])] = "~tree" + (str(count + 1) if count else "") + "/"
        return aliases[(folder, match[0])]

    tree = {re.sub(r"\.quillmere-copy-[^/]*/", alias, path): tree[path] for path in sorted(tree)}
    # A later start deletes the stub that a replacement set aside, as it may still run
    # now: one that is whole makes no difference.
    for path in list(tree):
        if re.fullmatch(re.escape(EXE) + r"(\.[0-9a-f]+)?\.old", path) and tree[path] == STUB:
            del tree[path]
    return tree


def compare(want, when):
    got = snapshot()
    wrong = [path + " is missing" for path in want if path not in got]
    wrong += [path + " is left over" for path in got if path not in want]
    wrong += [
        path + " holds other bytes" for path in want if got.get(path, want[path]) != want[path]
    ]
    for what in sorted(wrong)[:8]:
        check(False, f"{when}: {what}")


def windows(path):
    return "Z:" + path.replace("/", "\\")


# Ends every process whose command line lies under the test's folder, and gives their
# command lines: programs that a start left running outside the probe's job. One that Wine
# has already ended (a job closed on it as it began) may linger a moment in the system's
# list; only what is still there after some seconds waits for good.
def end_strays():
    marks = [re.escape(WORK), re.escape(windows(WORK))]
    for attempt in range(100):
        found = []
        for mark in marks:
            listed = subprocess.run(["pgrep", "-af", mark], stdout=subprocess.PIPE)
            found += listed.stdout.decode(errors="replace").splitlines()
        if not found:
            break
        time.sleep(0.1)
    for mark in marks:
        subprocess.run(["pkill", "-9", "-f", mark])
    return found


def wine(command, output=subprocess.DEVNULL, env=None):
    return subprocess.Popen(
        [WINE] + command,
        stdin=subprocess.DEVNULL,
        stdout=output,
        stderr=subprocess.DEVNULL,
        env=env,
    )


# The probe's HOLD for a row's "hold": "-", or the file's Windows path, after "=" when shared.
def held(hold):
    if hold == "-":
        return hold
    shared = hold[:1] == "="
    return "=" * shared + windows(os.path.join(ROOT, hold[shared:]))


# Runs the probe and gives its report. Now and then Wine fails to start a program at all
# ("failed to map the shared user data"); the probe has then not even written that it
# began, nothing of the test ran, and it is started again.
def probe(arguments, env):
    report = os.path.join(WORK, "report")
    for attempt in range(3):
        with open(report, "wb") as output:
            wine([PROBE_EXE] + arguments, output, env).wait()
        if read(report):
            break
    return read(report).decode("utf-16-le")


# Starts the stub (a second one gap ms later, unless "-"), ends it after kill ms unless
# 0, and tells what happened: "exit" [ms, each stub's exit code], "box" [[caption, text,
# 1 for an icon], ...], "args" (the stub's own), and "probe" [[path, command
# line, folder, argument, ...], ...] for each program started, in order.
def run(hold="-", kill=0, gap="-", faults=None, log=None):
    shutil.rmtree(PROBE_OUT, ignore_errors=True)
    os.mkdir(PROBE_OUT)
    helpers = []
    if " squatted" in get(FIRST, "=="):
        helpers.append(wine([PROBE_EXE, "--squat"], subprocess.PIPE))
    for helper in helpers:
        helper.stdout.readline()
        helper.stdout.close()
    stub = windows(os.path.join(ROOT, EXE))
    # Windows' own answers to the stub's calls (tests/inject/faults.cpp).
    env = dict(os.environ)
    if faults is not None:
        env.update(QUILLMERE_FAULTS_DLL=windows(FAULTS_DLL), QUILLMERE_FAULTS=faults)
    if log:
        env.update(QUILLMERE_FAULTS_LOG=windows(log))
    report = probe(["--run", held(hold), str(kill), gap, stub, ARGS], env)
    for helper in helpers:
        helper.kill()
        helper.wait()
    strays = end_strays()
    seen = {"box": [], "probe": []}
    for record in report.split("\x1e")[:-1]:
        kind, *fields = record.split("\x1f")
        if kind == "box":
            seen["box"].append(fields)
        else:
            seen[kind] = fields
    # Nothing a start left may wait for good, not even after a kill; it is ended all the same.
    left = seen.get("left", []) + strays
    check(not left, f"processes outlived the start: {left}")
    records = sorted(os.scandir(PROBE_OUT), key=lambda entry: entry.stat().st_mtime_ns)
    for entry in records:
        seen["probe"].append(read(entry.path).decode("utf-16-le").split("\0")[:-1])
    return seen


# A path of the scenario as the stub sees it: "." the root itself, else under the root.
def seat(path):
    if path == ".":
        return windows(ROOT)
    return windows(os.path.join(ROOT, expand(path)))


# Checks that a start did what its fields say: "launch PROGRAM [INSTANCE RESOURCES]" for
# each program started, "box N [PATH]", "line TEXT" and "exit CODE" (7).
def expect(start, seen, when):
    box = get(start, "box").split()
    boxes = []
    if box:
        text = MESSAGES[int(box[0]) - 1]
        if len(box) > 1:
            text += seat(box[1]) + MISSING_PART_END
        boxes = [["Vellmarrow: Quillmere", text, "1"]]
    did = f"exit codes {seen['exit'][1:]}, messages {seen['box']}"
    check(seen["box"] == boxes, f"{when}: {did}")
    check(int(seen["exit"][1]) == int(get(start, "exit", "7"), 0), f"{when}: {did}")
    launches = [value.split() for key, value in start if key == "launch"]
    started = len(seen["probe"])
    check(started == len(launches), f"{when}: {started} programs started; {did}")
    for want, (path, line, folder, *arguments) in zip(launches, seen["probe"]):
        program = seat(want[0])
        # A new stub runs in the install root, a launcher in its own folder.
        wanted = [program, seat("."), program] + seen["args"]
        if len(want) > 1:
            wanted[1] = program.rsplit("\\", 1)[0]
            wanted += ["--instance-root", seat(want[1])]
            wanted += ["--quillmere-settings", seat("settings"), "--resources", seat(want[2])]
        check([path, folder] + arguments == wanted, f"{when}: started {line} in {folder}")
    line = get(start, "line").replace("{R}", seat("."))
    if line and seen["probe"]:
        check(seen["probe"][0][1] == line, f"{when}: command line {seen['probe'][0][1]}")


# Runs quillmere-check on the folder as the first start will find it, under the same hold,
# through the system's shell so that what it prints lands in a file of the test, and gives
# what it said. It must not change the folder by a byte. "check STATUS OPTIONS" of a row is
# the status it must end with and options it is given.
def forecast():
    before = snapshot()
    folder, name = os.path.split(os.path.join(ROOT, EXE))
    status, _, options = (get(FIRST, "check") or str(int(bool(get(FIRST, "box"))))).partition(" ")
    said = os.path.join(WORK, "said.json")
    # "says TEXT": the text it prints, word for word ({R} the root).
    says = get(FIRST, "says").replace("{R}", windows(ROOT))
    line = (
        f'"{CHECK}" {"--json" * (not says)} --stub {name} {options} "{windows(folder)}" -- {ARGS}'
    )
    shell = ["--run", held(get(FIRST, "hold", "-")), "0", "-", "C:\\windows\\system32\\cmd.exe"]
    # The probe makes no copy in progress for the check.
    env = {key: value for key, value in os.environ.items() if key != "QUILLMERE_RUNNING_COPY"}
    # Now and then Wine fails to start a program at all; cmd then ends with its own code and
    # the check has said nothing. As it changes nothing, it is started again.
    for attempt in range(3):
        report = probe(shell + [f'/s /c "{line} > "{windows(said)}""'], env)
        left = end_strays()
        check(not left, f"processes outlived the check: {left}")
        ended = re.search("exit\x1f.*?\x1f(.*?)\x1e", report).group(1)
        if ended == status or read(said):
            break
    compare(before, "after the check")
    check(ended == status, f"the check ends with {ended}: {read(said)[:2000]}")
    if says:
        check(read(said).decode().split() == says.split(), f"the check said {read(said)}")
    if status == "3" or says:
        return None, before
    return json.loads(read(said)), before


def local(path):
    return os.path.relpath(path[2:].replace("\\", "/"), ROOT)


# Compares what the check said with what the first start did, as `seen` and the folder tell.
def judge(said, before, seen):
    after = snapshot()
    starts = {key: said[key] for key in ["relaunch", "start"] if key in said}
    records = []
    boxes = [["Vellmarrow: Quillmere", said["message"], "1"]] if "message" in said else []
    # A new stub that is the probe takes over; the launcher, a probe, records its start.
    if "relaunch" in starts and before.get(local(said["candidate"]["path"])) == PROBE:
        records, boxes = [starts["relaunch"]], []
    elif "start" in starts and after.get(local(starts["start"]["program"])) == PROBE:
        records = [starts["start"]]
    records = [[start["program"], start["command_line"], start["folder"]] for start in records]
    check([probe[:3] for probe in seen["probe"]] == records, f"the check said {starts}")
    check(seen["box"] == boxes, f"the check said {said.get('message')}")
    replaced = before.get(EXE) != after.get(EXE)
    check(not replaced or "relaunch" in starts, "the check saw no new stub")
    # Refused for good, as Windows' access rights refuse, but Wine shows nothing of it to a
    # reader: only the move itself finds out.
    refused = get(FIRST, "immutable").split()
    journal = said.get("journal", {})
    root = journal.get("path", "").rsplit("\\content\\", 1)[0]
    landed = []
    for entry in journal.get("entries", []):
        staged = local(root + "\\content\\cache\\staging\\" + entry.get("staged", ""))
        # Windows drops the dots and blanks that end a name.
        target = local(root + "\\" + entry.get("target", "")).rstrip(". ")
        lands = staged in before and staged not in after and after.get(target) == before[staged]
        unseen = any(target.startswith(path) for path in refused)
        said_lands = entry["fate"] == "lands" and not (unseen and not lands)
        check(lands == said_lands, f"{entry['fate']}, yet {staged} {lands}")
        landed.append(target)
    if "state" in journal:
        kept = local(journal["path"]) in after
        done = journal["state"].startswith("done") and not refused
        check(kept != done, f"the journal is {journal['state']}")
    steps = said.get("migration")
    if isinstance(steps, dict):
        recorded = after.get("settings/install-layout.txt") == b"2\n"
        check(recorded == ("record layout 2" in steps["steps"]), f"the migration: {steps}")
    fill = said.get("fill", {})
    if "instance" in fill:
        instance = local(fill["instance"])
        mine = instance + "/content/"
        brought = [p for p in after if p.startswith(mine) and p not in before]
        brought = [p for p in brought if p not in landed and p[len("live/") :] not in before]
        check(bool(brought) == ("from" in fill), f"the fill: {fill}; brought {brought[:3]}")
        # Copies and trees (named ~tree, ~tree2...) in progress directly in the mark, each once.
        mark = re.escape(instance + "/.quillmere-filling/")
        copies = [
            path for path in before if re.fullmatch(mark + r"(\.quillmere-copy.*|~tree\d*/)", path)
        ]
        check(fill.get("leftover_copies", 0) == len(copies), f"the fill's copies: {fill}")
    print("the check's prediction held" if not failures else "the check's prediction failed")


def starts():
    lay_out()
    said, before = forecast()
    want = apply(snapshot(), get(FIRST, "after"))
    seen = run(hold=get(FIRST, "hold", "-"), faults=dict(FIRST).get("faults"))
    expect(FIRST, seen, "first start")
    # Windows' own answers, injected into the start's calls, that stop it with a message are
    # answers to calls the check never makes: it cannot foresee them.
    stopped = get(FIRST, "box") or "|kill|" in get(FIRST, "faults")
    if said and not (get(FIRST, "faults") and stopped):
        judge(said, before, seen)
    # The probe's copy in progress must outlive the start, as the probe ran all through it.
    for name in seen.get("copy", []):
        want[get(FIRST, "running") + name] = b""
    compare(want, "after the first start")
    if " once" in get(FIRST, "=="):
        return
    # The second start finishes what the first could not, or changes nothing; what was
    # refused for good is allowed again.
    subprocess.run(["chattr", "-R", "-i", ROOT])
    again = SECOND or [field for field in FIRST if field[0] != "after"]
    expect(again, run(), "second start")
    compare(apply(want, get(again, "after")), "after the second start")
    for gap in get(FIRST, "twice").split():
        lay_out()
        seen = run(gap=gap)
        when = f"two stubs {gap} ms apart"
        launches = 2 * len([key for key, _ in FIRST if key == "launch"])
        did = f"exit codes {seen['exit'][1:]}, messages {seen['box']}"
        check(len(seen["probe"]) == launches, f"{when}: {len(seen['probe'])} launches; {did}")
        compare(want, when)


# Kills the first start's stub (only the stub: what it started must end with it or carry on
# by itself) at moments spread over an uninterrupted start, then starts the stub
# until it reaches the launcher, and once more: the folder must then be what two
# uninterrupted starts leave.
def crashes():
    lay_out()
    want = apply(apply(snapshot(), get(FIRST, "after")), get(SECOND, "after"))
    span = int(run()["exit"][0])
    kills = int(os.environ.get("QUILLMERE_CRASH_KILLS", 8))
    for kill in range(kills):
        lay_out()
        # The moments walk the span in golden-ratio steps, so any number spreads evenly.
        run(kill=max(1, int(span * ((0.5 + kill * 0.6180339887) % 1))))
        for attempt in range(3):
            if run()["probe"]:
                break
        else:
            check(False, f"no start reached the launcher after kill {kill}")
        run()
        compare(want, f"after kill {kill}")
    print(f"{kills} kills over {span} ms")


# The faults that the sweep tries at each call: a file in use; errors that pass (a full
# disk, a cloud file's provider not running, a share gone); refusals that last (access
# denied to the probe too, an antivirus block); a name the volume can never hold.
SWEEP_KINDS = ["32", "112", "362", "64", "5!", "225!", "123!"]


# Whether a start reached the launcher once or showed one of the messages instead.
def reached(seen, when):
    did = f"exit codes {seen['exit'][1:]}, messages {seen['box']}, {len(seen['probe'])} starts"
    texts = [box[1] for box in seen["box"]]
    shown = len(texts) == 1 and any(texts[0].startswith(text) for text in MESSAGES)
    check(
        (shown and not seen["probe"]) or (not texts and len(seen["probe"]) == 1), f"{when}: {did}"
    )
    check(seen["exit"][1] in ["0", "1", "7"], f"{when}: {did}")


# Every file under a final name is whole, old or new, none is lost, and the stub's name
# holds a stub. Names of copies in progress may hold
# anything until the start after.
def whole(before, want, when, final):
    got = snapshot()
    contents = list(got.values())
    for path, data in got.items():
        # Copies in progress, also the folders that a fill builds and all in them.
        scratch = "/.quillmere-" in "/" + path or re.match(re.escape(EXE) + r"\.", path)
        if scratch and not final:
            continue
        check(data in [before.get(path), want.get(path)], f"{when}: {path} is cut or foreign")
    moved = list(want.values())
    for path, data in before.items():
        # A file kept stays where it was; one moved stands somewhere; the journal goes.
        if path in want:
            check(path in got, f"{when}: {path} is lost")
        elif data in moved:
            check(data in contents, f"{when}: {path} is lost")
    check(got.get(EXE) in [STUB, want[EXE]], f"{when}: no working stub")


# Fails each call of an uninterrupted start in turn, once with each kind of fault, then
# starts the stub without faults: no file may be cut or lost, and the second start must
# finish what a fault that passes left undone. CI tries the first call of each call site;
# QUILLMERE_SWEEP=all tries every call, QUILLMERE_SWEEP=RULE one fault that it printed.
def sweep():
    lay_out()
    before = snapshot()
    want = apply(apply(before, get(FIRST, "after")), get(SECOND, "after"))
    log = os.path.join(WORK, "calls")
    run(faults="", log=log)
    counted = {}
    sites = set()
    rules = []
    calls = read(log).decode("utf-16-le").splitlines()
    for process, function, site, *paths in [call.split("\t") for call in calls]:
        # A new stub that cannot give its sign is one that does not run, by design.
        if (process, function) == ("n", "OpenEventW"):
            continue
        number = counted.get((process, function), 0)
        counted[(process, function)] = number + 1
        if (function, site) in sites and os.environ.get("QUILLMERE_SWEEP") != "all":
            continue
        sites.add((function, site))
        rules += [f"{process}|{function}||{kind}|{number}|1" for kind in SWEEP_KINDS]
    if os.environ.get("QUILLMERE_SWEEP", "all") != "all":
        rules = [os.environ["QUILLMERE_SWEEP"]]
    for rule in rules:
        lay_out()
        reached(run(faults=rule), rule)
        whole(before, want, f"{rule}, first start", False)
        second = run()
        reached(second, f"{rule}, second start")
        check(second["box"] == [], f"{rule}, second start: a message")
        if "!" in rule:
            whole(before, want, f"{rule}, second start", True)
        else:
            compare(want, f"{rule}, second start")
    print(f"{len(rules)} faults at {len(sites)} call sites, {len(failures)} promises broken")


# Ends the test before ctest would, so that the clean-up runs.
def out_of_time(signum, frame):
    raise TimeoutError("out of time")


FIRST, SECOND = read_scenario(sys.argv[1], sys.argv[2])
STUB = read(sys.argv[3])
PROBE_EXE = sys.argv[4]
PROBE = read(PROBE_EXE)
FAULTS_DLL = os.path.join(os.path.dirname(PROBE_EXE), "faults.dll")
CHECK = windows(os.path.join(os.path.dirname(os.path.abspath(sys.argv[3])), "quillmere-check.exe"))
WINE = sys.argv[5]
# The contents that a tree's files may name with "@".
KINDS = {
    "@stub": STUB,
    "@probe": PROBE,
    # A newer stub, slow to copy.
    "@stub+": STUB + b"Q" * (8 << 20),
    # A newer stub of the same size, which differs first in a byte greater than the stub's.
    "@stub~": patched(STUB, "pe+8:4=0xffffffff"),
    "@noload": STUB.replace(b"msvcrt.dll", b"msvcrq.dll"),
    "@signed": patched(STUB, "sign=16"),
    # A new stub that hangs, and one that an antivirus moves away.
    "@hangs": PROBE.replace(b"mode:n", b"mode:h"),
    "@quarantined": PROBE.replace(b"mode:n", b"mode:q"),
}
WORK = tempfile.mkdtemp(prefix="qm", dir="/tmp")
ROOT = os.path.join(WORK, expand(get(FIRST, "root", "My Game")))
PROBE_OUT = os.path.join(WORK, "probe")
EXE = get(FIRST, "exe", "Quillmere.exe")
ARGS = get(FIRST, "args", '-x "a b"')
# The probe ends with the first start's exit code, unless that is the stub's own (0 after
# a relaunch, 1 after a message).
probe_exit = get(FIRST, "exit", "7")
if int(probe_exit, 0) <= 1:
    probe_exit = "7"
os.environ.update(QUILLMERE_PROBE_OUT=windows(PROBE_OUT), QUILLMERE_PROBE_EXIT=probe_exit)
if get(FIRST, "running"):
    os.environ["QUILLMERE_RUNNING_COPY"] = windows(os.path.join(ROOT, get(FIRST, "running")))
signal.signal(signal.SIGALRM, out_of_time)
signal.alarm(270 if sys.argv[6:] == [] else 840)
try:
    if sys.argv[6:] == ["crash"]:
        crashes()
    elif sys.argv[6:] == ["sweep"]:
        sweep()
    else:
        starts()
finally:
    end_strays()
    subprocess.run(["chattr", "-R", "-i", WORK], stderr=subprocess.DEVNULL)
    for path in get(FIRST, "mount").split()[::2]:
        subprocess.run(["umount", "-l", path], cwd=ROOT)
    shutil.rmtree(WORK)
sys.exit(bool(failures))
