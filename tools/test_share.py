#!/usr/bin/env python3
"""Prints how much of the code is test code: non-blank, non-comment lines of tests/ and
tools/driver (the test driver), against those plus src/, the other tools/, scripts/ and bench/.

    tools/test_share.py [--max PERCENT]    exit 1 when the share is above PERCENT
"""
import argparse
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SUFFIXES = {'.cpp', '.h', '.py', '.sh'}


def code_lines(path: Path) -> int:
    """Lines that are neither blank nor comments (// and /* */ in C++, # in Python and shell)."""
    count = 0
    in_block = False
    hash_comments = path.suffix in ('.py', '.sh')
    for raw in path.read_text(encoding='utf-8', errors='replace').splitlines():
        line = raw.strip()
        if in_block:
            if '*/' in line:
                in_block = False
            continue
        if not line:
            continue
        if hash_comments and line.startswith('#') and not line.startswith('#!'):
            continue
        if not hash_comments and line.startswith('//'):
            continue
        if not hash_comments and line.startswith('/*'):
            in_block = '*/' not in line
            continue
        count += 1
    return count


def files(folder: Path):
    return [p for p in sorted(folder.rglob('*')) if p.is_file() and p.suffix in SUFFIXES]


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument('--max', type=float)
    args = parser.parse_args()
    driver = ROOT / 'tools' / 'driver'
    tests = sum(code_lines(p) for p in files(ROOT / 'tests') + files(driver))
    other = sum(code_lines(p) for folder in ('src', 'scripts', 'bench') for p in files(ROOT / folder))
    other += sum(code_lines(p) for p in files(ROOT / 'tools') if driver not in p.parents)
    share = 100.0 * tests / (tests + other)
    print(f'test code {tests} lines of {tests + other}: {share:.1f} %')
    return 1 if args.max is not None and share > args.max else 0


if __name__ == '__main__':
    sys.exit(main())
