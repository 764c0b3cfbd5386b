#!/usr/bin/env python3
"""Rewrites the recorded results of the bundled example workspaces under
tests/data from a built binary, so that `git diff` shows every change of
output for review.

Each tests/data/<example>/ holds its workspace before any run (input/ws/, or a
file `input-from` naming a directory of the repository to use as ws/) and, per
mode, the arguments, console output and status of each run, the directory
after the last run and the list of its paths (expected.paths, the reference,
since git keeps no empty directories). The stamps a run writes are masked the
same way the end-to-end test masks them.

Most of that directory is what the mode's base already holds, so a mode
records it as `expected-from` naming its base (`input`, the workspace before
any run, or another mode) and expected/ holding only the files that differ
from the base or that it lacks. expected.paths stays whole: a file of the base
that it does not list is not expected. So `git diff` shows a change of output
once, where it first appears, and a file a mode stops sharing shows up as new.

Usage: scripts/regen-test-data.py BINARY [EXAMPLE ...]
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(REPO, "tests", "data")
MODES = {
    "dry": ["--root ws --dry-run"],
    "real": ["--root ws"],
    "rerun": ["--root ws", "--root ws"],
    "golden": ["--root ws --emit-golden golden"],
}
# dry and real are best read against the input, rerun and golden against the
# first real run; a base comes before the modes that extend it.
BASES = {"dry": "input", "real": "input", "rerun": "real", "golden": "real"}
GRAPH_STAMP = re.compile(rb'"(version|timestamp)": "[^"]*"')
REPORT_STAMP = re.compile("> AI 回看 · 生成于 [^\n]*".encode())


def masked(relative, content):
    if relative.endswith(".system/graph.json"):
        return GRAPH_STAMP.sub(rb'"\1": "<STAMP>"', content)
    if "summary/" in relative and relative.endswith(".md"):
        return REPORT_STAMP.sub("> AI 回看 · 生成于 <STAMP>".encode(), content)
    if relative.endswith("golden/workspace/README.md"):
        lines = content.split(b"\n")
        if lines and lines[-1] == b"":
            lines.pop()
        return b"".join((b"<FREE>" if n in (4, 9, 10, 12) else line) + b"\n"
                        for n, line in enumerate(lines, 1))
    return content


def listing(top):
    paths = []
    for directory, dirs, files in os.walk(top):
        relative = os.path.relpath(directory, top)
        prefix = "" if relative == "." else relative + "/"
        paths += [prefix + d + "/" for d in dirs] + [prefix + f for f in files]
    return sorted(paths, key=lambda p: p.encode())


def copy_input(example, work):
    source_file = os.path.join(example, "input-from")
    if os.path.exists(source_file):
        with open(source_file) as f:
            source = os.path.join(REPO, f.read().strip())
        shutil.copytree(source, os.path.join(work, "ws"), symlinks=True)
    else:
        shutil.copytree(os.path.join(example, "input"), work, symlinks=True, dirs_exist_ok=True)


def tree(work, paths):
    """The masked content of every file among `paths` below `work`."""
    contents = {}
    for path in paths:
        if not path.endswith("/"):
            with open(os.path.join(work, path), "rb") as f:
                contents[path] = masked(path, f.read())
    return contents


def input_tree(example):
    with tempfile.TemporaryDirectory() as work:
        copy_input(example, work)
        return tree(work, listing(work))


def record(binary, example, mode, runs, base, base_tree):
    """Records one mode and returns its whole expected tree."""
    target = os.path.join(example, mode)
    shutil.rmtree(target, ignore_errors=True)
    with tempfile.TemporaryDirectory() as work:
        copy_input(example, work)
        for number, args in enumerate(runs, 1):
            result = subprocess.run([binary] + args.split(), cwd=work, capture_output=True)
            run_dir = os.path.join(target, f"run{number}")
            os.makedirs(run_dir)
            for name, data in (("args", args.encode() + b"\n"), ("stdout", result.stdout),
                               ("stderr", result.stderr),
                               ("status", f"{result.returncode}\n".encode())):
                with open(os.path.join(run_dir, name), "wb") as f:
                    f.write(data)
        paths = listing(work)
        contents = tree(work, paths)
    with open(os.path.join(target, "expected.paths"), "w") as f:
        f.write("".join(p + "\n" for p in paths))
    with open(os.path.join(target, "expected-from"), "w") as f:
        f.write(base + "\n")
    for path, content in contents.items():
        if base_tree.get(path) == content:
            continue
        destination = os.path.join(target, "expected", path)
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        with open(destination, "wb") as f:
            f.write(content)
    return contents


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    names = sys.argv[2:] or sorted(os.listdir(DATA), key=lambda n: n.encode())
    for name in names:
        example = os.path.join(DATA, name)
        if not os.path.isdir(example):
            continue
        trees = {"input": input_tree(example)}
        for mode, runs in MODES.items():
            base = BASES[mode]
            trees[mode] = record(binary, example, mode, runs, base, trees[base])
        print(f"{name}: recorded {', '.join(MODES)}")


if __name__ == "__main__":
    main()
