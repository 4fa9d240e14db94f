#!/usr/bin/env python3
"""Renames C++ identifiers across the tree from a committed map, one whole identifier at a time.

The map (scripts/identifier-renames.txt by default) holds one rename a line: `old new`, optionally
followed by path patterns (fnmatch, relative to the repository) that limit it to those files. `#`
starts a comment. `.old` renames only a member reached through an object or a scope (after `.`, `->`
or `::`), `@old` only the bare name; where several lines fit, one with patterns wins over one without,
and one with `.` or `@` over one without. A line `[layer]` starts the renames of the names that
layer declares (filetools, engine, batch, ui, app, tests). Text inside string and character literals is never changed, nor double-quoted text
inside comments: object names, settings keys and messages keep their spelling. Running it again
changes nothing.

    python3 scripts/rename-identifiers.py [--map FILE] [--layer NAME ...] [--check] [PATH ...]

--layer applies only the renames of the names that layer declares, in every file that uses them, so
that the tree builds after each layer; without it, every rename is applied. PATH limits the run to
those files or folders; by default it covers src/ tests/ bench/ fuzz/ docs/. The files it changed are then
formatted with clang-format-14 (--no-format leaves them as renamed), since a longer or shorter name
moves line breaks. --check changes no file: it lists what would change and exits 1 if anything
would. A file that holds a bare name to rename and, bare too, the name it would get (a local, a
declaration) is reported and nothing is renamed: choose another name.
"""

import argparse
import fnmatch
import os
import re
import shutil
import subprocess
import sys

ROOTS = ("src", "tests", "bench", "fuzz", "docs")
EXTENSIONS = (".h", ".hpp", ".cpp", ".cc", ".cxx", ".inc")
IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
PP_NUMBER = re.compile(r"\.?[0-9](?:[eEpP][+-]|'[0-9A-Za-z_]|[0-9A-Za-z_.])*")
RAW_STRING = re.compile(r'(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(')
QUOTED_PREFIX = re.compile(r"(?:u8|u|U|L)?[\"']")


class Rename:
    def __init__(self, old, new, patterns, line, layer):
        self.layer = layer
        self.context = old[0] if old[0] in ".@" else ""
        self.old = old.lstrip(".@")
        self.new, self.patterns, self.line = new, patterns, line

    def applies_to(self, path):
        return not self.patterns or any(fnmatch.fnmatchcase(path, p) for p in self.patterns)

    def rank(self):
        return (bool(self.patterns), bool(self.context))


class Table:
    """The renames that apply to one file, by old name and by where the name stands."""

    def __init__(self, renames, layers):
        # Every rename takes part in choosing, so that a name a later layer renames in a few files is
        # not taken by a general rename of an earlier one; only the chosen layers' renames are made.
        self.layers = layers
        self.by_old = {}
        for r in renames:
            self.by_old.setdefault(r.old, []).append(r)

    def __bool__(self):
        return bool(self.by_old)

    def new_name(self, name, member):
        fitting = [r for r in self.by_old.get(name, []) if r.context in ("", "." if member else "@")]
        if not fitting:
            return None
        best = max(r.rank() for r in fitting)
        chosen = [r for r in fitting if r.rank() == best]
        if len({r.new for r in chosen}) > 1:
            sys.exit(f"'{name}' has several renames of the same weight: " + ", ".join(r.new for r in chosen))
        if self.layers and chosen[0].layer not in self.layers:
            return None
        return chosen[0].new


def read_map(path):
    renames, olds, layer = [], {}, ""
    with open(path, encoding="utf-8") as f:
        for number, text in enumerate(f, 1):
            fields = text.split("#", 1)[0].split()
            if not fields:
                continue
            if len(fields) == 1 and fields[0].startswith("[") and fields[0].endswith("]"):
                layer = fields[0][1:-1]
                continue
            if len(fields) < 2 or not IDENTIFIER.fullmatch(fields[0].lstrip(".@")) or not IDENTIFIER.fullmatch(fields[1]):
                sys.exit(f"{path}:{number}: expected 'old new [pattern ...]', got: {text.strip()}")
            rename = Rename(fields[0], fields[1], fields[2:], number, layer)
            for other in olds.get(rename.old, []):
                if other.patterns == rename.patterns and other.context == rename.context:
                    sys.exit(f"{path}:{number}: '{rename.old}' is renamed on line {other.line} already")
            olds.setdefault(rename.old, []).append(rename)
            renames.append(rename)
    # A chain (a -> b, b -> c) would make a second run change what the first one wrote.
    for rename in renames:
        for other in olds.get(rename.new, []):
            if not rename.patterns or not other.patterns or set(rename.patterns) & set(other.patterns):
                sys.exit(f"{path}:{rename.line}: '{rename.new}' is itself renamed on line {other.line}")
    return renames


def tokens(text):
    """Yields (start, end, kind) over the text: kind is 'id', 'comment' or 'skip' (literals, numbers)."""
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c == "/" and text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            # A line comment continues over a backslash-newline.
            while end < n and end > 0 and text[end - 1] == "\\":
                nxt = text.find("\n", end + 1)
                end = n if nxt < 0 else nxt
            yield i, end, "comment"
            i = end
        elif c == "/" and text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            yield i, end, "comment"
            i = end
        elif c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            m = PP_NUMBER.match(text, i)
            yield i, m.end(), "skip"
            i = m.end()
        elif c.isalpha() or c == "_":
            raw = RAW_STRING.match(text, i)
            if raw:
                close = ")" + raw.group(1) + '"'
                end = text.find(close, raw.end())
                end = n if end < 0 else end + len(close)
                yield i, end, "skip"
                i = end
                continue
            prefixed = QUOTED_PREFIX.match(text, i)
            if prefixed and prefixed.end() - i > 1:
                end = literal_end(text, prefixed.end() - 1)
                yield i, end, "skip"
                i = end
                continue
            m = IDENTIFIER.match(text, i)
            yield i, m.end(), "id"
            i = m.end()
        elif c in "\"'":
            end = literal_end(text, i)
            yield i, end, "skip"
            i = end
        elif c in ".-:>":
            yield i, i + 1, "punct"
            i += 1
        elif c.isspace():
            i += 1
        else:
            yield i, i + 1, "punct"
            i += 1


def literal_end(text, start):
    quote, i, n = text[start], start + 1, len(text)
    while i < n:
        c = text[i]
        if c == "\\":
            i += 2
            continue
        if c == quote or c == "\n":
            return i + 1
        i += 1
    return n


def is_member(text, start):
    """Whether the name at `start` is reached through an object or a scope."""
    i = start - 1
    while i >= 0 and text[i] in " \t\r\n":
        i -= 1
    return i >= 0 and (text[i] == "." or (i >= 1 and text[i - 1 : i + 1] in ("->", "::")))


def rename_comment(comment, table):
    # Double-quoted text in a comment is a message or a file name, as the program writes it.
    out, i = [], 0
    for m in re.finditer(r'"[^"\n]*"', comment):
        out.append(rename_words(comment[i : m.start()], table))
        out.append(m.group(0))
        i = m.end()
    out.append(rename_words(comment[i:], table))
    return "".join(out)


def rename_words(text, table):
    def renamed(m):
        return table.new_name(m.group(0), is_member(text, m.start())) or m.group(0)

    return IDENTIFIER.sub(renamed, text)


def member_flags(text):
    """Yields (start, end, kind, member) over the tokens; comments do not count as what precedes a name."""
    before = ""  # the last two characters of code, whitespace and comments left out
    for start, end, kind in tokens(text):
        member = kind == "id" and (before.endswith(".") or before in ("->", "::"))
        yield start, end, kind, member
        if kind == "punct":
            before = (before + text[start])[-2:] if before and before[-1] in "-:" else text[start]
        elif kind != "comment":
            before = " "


def rename_text(text, table):
    out, last = [], 0
    for start, end, kind, member in member_flags(text):
        new = table.new_name(text[start:end], member) if kind == "id" else None
        if new:
            out.append(text[last:start])
            out.append(new)
            last = end
        elif kind == "comment":
            renamed = rename_comment(text[start:end], table)
            if renamed != text[start:end]:
                out.append(text[last:start])
                out.append(renamed)
                last = end
    out.append(text[last:])
    return "".join(out)


def bare_identifiers_in(text):
    return {text[s:e] for s, e, kind, member in member_flags(text) if kind == "id" and not member}


def scoped_identifiers_in(text):
    """Names after "::": a member function defined out of its class hides a free function of its name."""
    return {text[s:e] for s, e, kind, member in member_flags(text) if kind == "id" and member and text[:s].rstrip().endswith("::")}


def files_under(repo, paths):
    for path in paths:
        full = os.path.join(repo, path)
        if os.path.isfile(full):
            yield os.path.relpath(full, repo)
            continue
        for folder, dirs, names in os.walk(full):
            dirs[:] = sorted(d for d in dirs if not d.startswith(".") and d != "build")
            for name in sorted(names):
                if name.endswith(EXTENSIONS):
                    yield os.path.relpath(os.path.join(folder, name), repo)


def main():
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--map", default=os.path.join(repo, "scripts", "identifier-renames.txt"))
    parser.add_argument("--layer", action="append", help="only the renames of this layer's names")
    parser.add_argument("--check", action="store_true", help="change nothing; exit 1 if a file would change")
    parser.add_argument("--no-format", action="store_true", help="do not run clang-format-14 on changed files")
    parser.add_argument("paths", nargs="*", default=list(ROOTS))
    args = parser.parse_args()
    renames = read_map(args.map)
    if args.layer:
        unknown = set(args.layer) - {r.layer for r in renames}
        if unknown:
            sys.exit("no such layer in the map: " + ", ".join(sorted(unknown)))

    changed, clashes = [], []
    for path in files_under(repo, args.paths):
        table = Table([r for r in renames if r.applies_to(path)], set(args.layer or []))
        if not table:
            continue
        with open(os.path.join(repo, path), encoding="utf-8", errors="surrogateescape", newline="") as f:
            text = f.read()
        renamed = rename_text(text, table)
        if renamed == text:
            continue
        # A member reached through an object cannot meet a local of the new name; a bare name can.
        bare = bare_identifiers_in(text)
        taken = bare | scoped_identifiers_in(text)
        clashes += [f"{path}: '{old}' -> '{new}', and '{new}' is there already"
                    for old in sorted(bare) if (new := table.new_name(old, False)) and new in taken]
        changed.append((path, renamed))

    for clash in clashes:
        print("clash:", clash, file=sys.stderr)
    if clashes:
        print("nothing renamed: mend the clashes above first", file=sys.stderr)
        return 2
    for path, renamed in changed:
        print(("would rename in " if args.check else "renamed in ") + path)
        if not args.check:
            with open(os.path.join(repo, path), "w", encoding="utf-8", errors="surrogateescape", newline="") as f:
                f.write(renamed)
    if changed and not args.check and not args.no_format:
        formatter = shutil.which("clang-format-14")
        if not formatter:
            print("clang-format-14 not found: format the renamed files before committing", file=sys.stderr)
            return 3
        subprocess.run([formatter, "-i"] + [path for path, _ in changed], cwd=repo, check=True)
    return 1 if args.check and changed else 0


if __name__ == "__main__":
    sys.exit(main())
