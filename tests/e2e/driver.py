#!/usr/bin/env python3
# The real Quillmere.exe, black box, on the folders that scenarios.txt describes: lays
# out the folder, starts the stub under Wine (runner.exe) with the probe as launcher
# and client, then compares the messages, what the probe received, the exit code and
# the whole folder with what the scenario expects.
#
#   driver.py SCENARIOS NAME STUB PROBE RUNNER WINE [crash]
#
# With "crash" the first start is killed at many moments (QUILLMERE_CRASH_KILLS, 8).
import os, re, shutil, subprocess, sys, tempfile

scenarios, name, stub_path, probe_path, runner, wine = sys.argv[1:7]
stub, probe = open(stub_path, 'rb').read(), open(probe_path, 'rb').read()
MESSAGES = ['Could not work out where Quillmere is installed.',
            'An update could not be finished.\n\nA file was in use. Close Tarnvayle if it is still running, then try again.',
            'Quillmere is missing part of its installation.\n\nExpected to find:\n',
            'Quillmere could not be started.\n\nAntivirus software sometimes blocks this. Allow the Quillmere folder and try again.']
failures = []


def check(ok, what):
    if not ok: failures.append(print('FAIL', what))


def expand(text):
    # {text}*N stands for N copies of text, # in them for the copy's number.
    copies = lambda m: ''.join(m[1].replace('#', str(i)) for i in range(int(m[2])))
    while (expanded := re.sub(r'(?<!\\)\{([^{}]*)\}\*(\d+)', copies, text)) != text:
        text = expanded
    return text


def unescape(text):
    # The escapes \n \r \t \0 \\ \xHH, \s for a blank, \{N} for the byte before it N times in all.
    out = bytearray()
    for escape, plain in re.findall(r'\\(x..|\{\d+\}|.)|(.)', text, re.S):
        if plain: out += plain.encode('latin-1')
        elif escape[0] == 'x': out.append(int(escape[1:], 16))
        elif escape[0] == '{': out += out[-1:] * (int(escape[1:-1]) - 1)
        else: out += {'n': b'\n', 'r': b'\r', 't': b'\t', '0': b'\0', 's': b' '}.get(escape, escape.encode())
    return bytes(out)


def content(text):
    pe = int.from_bytes(stub[0x3C:0x3E], 'little')
    patch = lambda at, data: stub[:at] + data + stub[at + len(data):]
    return {'@stub': stub, '@probe': probe, '@stub+': stub + b'Q' * (8 << 20),  # a newer stub, slow to copy
            '@cut': stub[:100000], '@arm64': patch(pe + 4, b'\x64\xAA'), '@dll': patch(pe + 23, b'\x20'),
            '@noload': stub.replace(b'msvcrt.dll', b'msvcrq.dll')}.get(text) or unescape(text)


def under(key, path):
    return key.startswith(path) if path.endswith('/') else key == path


def apply(tree, entries, locked=None):
    # Changes the tree (path: bytes, folders ending in "/") by entries: "path" a file
    # holding its own name, "path=bytes", "path/" a folder, "^path..." read-only; "-path"
    # removes, "a>b" moves and "a>>b" copies a path with all under it.
    tree = dict(tree)
    for entry in expand(entries).split():
        head, equals, text = entry.partition('=')
        if head[0] == '-':
            tree = {key: data for key, data in tree.items() if not under(key, head[1:])}
        elif '>' in head:
            source, arrow, target = re.match(r'(.*?)(>>?)(.*)', head).groups()
            carried = {target + key[len(source):]: data for key, data in tree.items() if under(key, source)}
            if arrow == '>':
                tree = {key: data for key, data in tree.items() if not under(key, source)}
            # A move replaces what stands at its target; a copy never does.
            tree = {**carried, **tree} if arrow == '>>' else {**tree, **carried}
        else:
            path = head.lstrip('^')
            if head[0] == '^' and locked is not None: locked.append(path)
            tree[path] = b'' if path.endswith('/') else content(text if equals else path.rsplit('/', 1)[-1])
    for path in list(tree):
        for parent in re.finditer('/', path[:-1]): tree.setdefault(path[:parent.end()], b'')
    return tree


def lay_out(entries):
    shutil.rmtree(root, ignore_errors=True)
    # "mount PATH SIZE": a folder on a small file system of its own: another volume, a full disk.
    for path, size in re.findall(r'(\S+) (\S+)', get(given, 'mount')):
        os.makedirs(os.path.join(root, path))
        mount = ['mount', '-t', 'tmpfs', '-o', 'size=' + size, 'tmpfs', os.path.join(root, path)]
        subprocess.run(mount, check=True)
    locked = []
    for path, data in sorted(apply({}, entries, locked).items()):
        os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
        if not path.endswith('/'): open(os.path.join(root, path), 'wb').write(data)
    for path in locked: os.chmod(os.path.join(root, path), 0o444)
    # Refused for good, also to root, as access rights or Controlled Folder Access are on Windows.
    for path in get(given, 'immutable').split():
        subprocess.run(['chattr', '+i', os.path.join(root, path)], check=True)


def snapshot():
    tree = {}
    for folder, folders, files in os.walk(root):
        base = os.path.relpath(folder, root) + '/' if folder != root else ''
        tree.update({base + name + '/': b'' for name in folders})
        tree.update({base + name: open(os.path.join(folder, name), 'rb').read() for name in files})
    # The stub that a replacement set aside is deleted by a later start, as it may still
    # run then: one that is whole makes no difference.
    if tree.get(exe + '.old') == stub: del tree[exe + '.old']
    return tree


def compare(want, got, when):
    wrong = [path + ' is missing' for path in want if path not in got] + [path + ' is left over' for path in got if path not in want]
    wrong += [path + ' holds other bytes' for path in want if path in got and got[path] != want[path]]
    for what in sorted(wrong)[:8]: check(False, when + ': ' + what)


def windows(path):
    return 'Z:' + path.replace('/', '\\')


def run(hold='-', kill=0, gap='-'):
    # Starts the stub (twice, `gap` ms apart), ends it after `kill` ms unless 0, and
    # gives what happened: exit (code, ms), box, args and probe records.
    if os.path.exists(probe_out): os.remove(probe_out)
    hold = hold if hold == '-' else windows(os.path.join(root, hold))
    # "scanned": a stand-in for a virus scanner watches the folder meanwhile; Wine has none.
    scanner = os.path.join(os.path.dirname(runner), 'scanner.exe')
    pipes = {'stdin': subprocess.PIPE, 'stdout': subprocess.PIPE}
    scanning = ' scanned' in get(given, '==')
    scanner = scanning and subprocess.Popen([wine, scanner, root_seen], **pipes)
    if scanner: scanner.stdout.readline()
    report = subprocess.run([wine, runner, hold, str(kill), gap, root_seen + '\\' + exe.replace('/', '\\'), args], stdout=subprocess.PIPE, timeout=600).stdout
    if scanner: scanner.communicate()
    seen = {'box': [], 'probe': []}
    for kind, *fields in (record.split('\x1f') for record in report.decode('utf-16-le').split('\x1e')[:-1]):
        seen[kind] = seen[kind] + [fields] if kind in ('box', 'probe') else fields
    return seen


def expect(o, seen, when):
    # Whether a start did what `o` says: "launch PROGRAM [INSTANCE RESOURCES]" for each
    # program started, "box N [PATH]", "line TEXT" and "exit CODE".
    seat = lambda path: root_seen if path == '.' else path[1:] if path[0] == '=' else root_seen + '\\' + expand(path).replace('/', '\\')
    box = get(o, 'box').split()
    boxes = [['Vellmarrow: Quillmere', MESSAGES[int(box[0]) - 1] + (seat(box[1]) + '\n\nExtract the whole Quillmere folder from the download, keeping it intact.' if box[1:] else '')]] if box else []
    check(seen['box'] == boxes, f'{when}: messages {seen["box"]}')
    check(int(seen['exit'][0]) == int(get(o, 'exit', '7'), 0), f'{when}: exit code {seen["exit"][0]}')
    launches = [value for key, value in o if key == 'launch']
    check(len(seen['probe']) == len(launches), f'{when}: {len(seen["probe"])} programs started')
    for want, (path, line, folder, *argv) in zip((launch.split() for launch in launches), seen['probe']):
        expected = [seat(want[0])] + seen['args'] + (['--instance-root', seat(want[1]), '--quillmere-settings', seat('settings'), '--resources', seat(want[2])] if want[1:] else [])
        check([path, folder] + argv == [expected[0], expected[0].rsplit('\\', 1)[0] if want[1:] else root_seen] + expected, f'{when}: started {line} in {folder}')
    line = get(o, 'line').replace('{R}', root_seen)
    check(not line or not seen['probe'] or seen['probe'][0][1] == line, f'{when}: command line {seen["probe"][:1]}')


def get(pairs, key, otherwise=''):
    return next((value for k, value in pairs if k == key), otherwise)


def starts():
    lay_out(get(given, 'tree'))
    want = apply(snapshot(), get(first, 'after'))
    expect(first, run(hold=get(given, 'hold', '-')), 'first start')
    compare(want, snapshot(), 'after the first start')
    if ' once' in get(given, '=='): return
    # The second start finishes what the first could not, or changes nothing.
    again = second if get(given, 'again', None) is not None else [(key, value) for key, value in first if key != 'after']
    expect(again, run(), 'second start')
    compare(apply(want, get(again, 'after')), snapshot(), 'after the second start')
    for gap in get(given, 'twice').split():
        # Two stubs on one folder, the second started `gap` ms after the first.
        lay_out(get(given, 'tree'))
        check(len(run(gap=gap)['probe']) == 2 * len([key for key, _ in first if key == 'launch']), f'two stubs {gap} ms apart: not two launches')
        compare(apply(apply({}, get(given, 'tree')), get(first, 'after')), snapshot(), f'two stubs {gap} ms apart')


def crashes():
    # Kills the first start at moments spread over an uninterrupted one, then starts the
    # stub until it reaches the launcher, and once more: the folder must be what two
    # uninterrupted starts leave.
    kills, gaps = int(os.environ.get('QUILLMERE_CRASH_KILLS', 8)), 0
    want = apply(apply(apply({}, get(given, 'tree')), get(first, 'after')), get(second, 'after'))
    lay_out(get(given, 'tree'))
    span = int(run()['exit'][1])
    for kill in range(kills):
        lay_out(get(given, 'tree'))
        # The moments walk the span in golden-ratio steps, so any number spreads evenly.
        run(kill=max(1, int(span * ((0.5 + kill * 0.6180339887) % 1))))
        if not os.path.exists(os.path.join(root, exe)):
            # Killed between the two renames of a self-replacement (by "@stub+"): nothing is
            # left to start, but neither stub may have lost a byte.
            read = lambda suffix: open(os.path.join(root, exe + suffix), 'rb').read()
            check(read('.old') == stub and read('.new') == content('@stub+'), 'a stub is cut short')
            gaps += 1
            continue
        check(any(run()['probe'] for _ in range(3)), f'no start reached the launcher after kill {kill}')
        run()
        compare(want, snapshot(), f'after kill {kill}')
    print(f'{kills} kills over {span} ms, {gaps} between the renames of a self-replacement')


# The scenario: its rows' fields are separated by ";", a line that begins with a blank
# continues the one before, and $NAME stands for what "set NAME" gave.
sets, given, first, second, rows = {}, [], [], [], None
for line in open(scenarios).read().replace('\n ', ' ').splitlines():
    for key, value in sorted(sets.items(), reverse=True): line = line.replace('$' + key, value)
    for item in line.split(';') if not line.startswith('#') else []:
        key, _, value = item.strip().partition(' ')
        if key == 'set': sets.update([value.split(' ', 1)])
        if key == '==': rows = first if value.split()[0] == name else None
        if rows is None or key in ('', 'set'): continue
        setup = ('==', 'again', 'tree', 'root', 'drive', 'exe', 'args', 'hold', 'twice', 'mount',
                 'immutable')
        (given if key in setup else rows).append((key, value))
        if key == 'again': rows = second
if not given: sys.exit(f'no scenario {name}')

work = tempfile.mkdtemp(prefix='qm', dir='/tmp')
root, probe_out = os.path.join(work, expand(get(given, 'root', 'My Game'))), os.path.join(work, 'probe')
root_seen, exe, args = windows(root), get(given, 'exe', 'Quillmere.exe'), get(given, 'args', '-x "a b"')
# The probe ends with the first start's exit code, unless that says "stub" (0) or "message" (1).
exit_code = get(first, 'exit', '7')
os.environ.update(QUILLMERE_PROBE_OUT=windows(probe_out), QUILLMERE_PROBE_EXIT=exit_code if int(exit_code, 0) > 1 else '7')
if get(given, 'drive'):
    # The stub runs from the root of a drive that is the install folder: Wine keeps its
    # drives as links in its prefix, which Wine itself names (and sets up on first use),
    # and a process started later sees a new one.
    prefix = subprocess.run([wine, 'cmd', '/c', 'echo %WINEPREFIX%'], stdout=subprocess.PIPE, text=True).stdout.strip()
    link = os.path.join(prefix, 'dosdevices', get(given, 'drive') + ':')
    if os.path.lexists(link): os.remove(link)  # left by a run that was cut off
    os.symlink(root, link)
    root_seen = get(given, 'drive') + ':'
try:
    crashes() if sys.argv[7:] == ['crash'] else starts()
finally:
    if get(given, 'drive'): os.remove(link)
    if get(given, 'immutable'): subprocess.run(['chattr', '-R', '-i', work])
    for path in get(given, 'mount').split()[::2]:
        subprocess.run(['umount', '-l', os.path.join(root, path)])
    shutil.rmtree(work)
sys.exit(bool(failures))
