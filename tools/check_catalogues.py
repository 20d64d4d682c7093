#!/usr/bin/env python3
"""Extracts the program's translatable texts (every tr(L"...") call, and every N_(L"...") that
marks a text translated where it is shown) into a messages template
and reports each text that a catalogue in po/ does not translate.

    check_catalogues.py [--template OUT.pot]     exit 1 when a catalogue lacks a text
"""
import argparse
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def extract(template: Path) -> None:
    sources = sorted(str(p.relative_to(ROOT)) for p in (ROOT / 'src').rglob('*.cpp'))
    sources += sorted(str(p.relative_to(ROOT)) for p in (ROOT / 'src').rglob('*.h'))
    subprocess.run(['xgettext', '--language=C++', '--from-code=UTF-8', '--keyword=tr', '--keyword=N_',
                    '--package-name=Vistrel', '--no-wrap', '--sort-by-file',
                    '-o', str(template), *sources], cwd=ROOT, check=True)


def msgids(path: Path) -> dict:
    """msgid -> msgstr of a .po or .pot file (plain entries; fuzzy ones count as missing)."""
    entries = {}
    msgid = msgstr = None
    fuzzy = False
    section = None

    def unquote(line):
        return bytes(line.strip()[1:-1], 'utf-8').decode('unicode_escape').encode('latin-1').decode('utf-8')

    def flush():
        if msgid is not None and msgid != '':
            entries[msgid] = '' if fuzzy else msgstr
    for raw in path.read_text(encoding='utf-8').splitlines() + ['']:
        line = raw.strip()
        if not line:
            flush()
            msgid = msgstr = None
            fuzzy = False
            section = None
        elif line.startswith('#,') and 'fuzzy' in line:
            fuzzy = True
        elif line.startswith('#'):
            continue
        elif line.startswith('msgid '):
            msgid, section = unquote(line[6:]), 'id'
        elif line.startswith('msgstr '):
            msgstr, section = unquote(line[7:]), 'str'
        elif line.startswith('"'):
            if section == 'id':
                msgid += unquote(line)
            elif section == 'str':
                msgstr += unquote(line)
    return entries


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument('--template')
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        template = Path(args.template) if args.template else Path(tmp) / 'messages.pot'
        extract(template)
        wanted = msgids(template)
    catalogues = sorted((ROOT / 'po').glob('*.po'))
    if not catalogues:
        print('no catalogues in po/')
        return 1
    failures = 0
    for po in catalogues:
        have = msgids(po)
        missing = [m for m in wanted if not have.get(m)]
        for m in missing:
            print(f'{po.name}: no translation for "{m}"')
        failures += len(missing)
        print(f'{po.name}: {len(wanted) - len(missing)} of {len(wanted)} texts translated')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
