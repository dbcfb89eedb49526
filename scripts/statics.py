#!/usr/bin/env python3
"""Counts the process-wide mutable objects of the product folders.

A process-wide mutable object is a variable with static storage that is
not const or constexpr: one at namespace scope (named or anonymous
namespace, file static), a function-local static, or a static data
member. The scan reads lines, not C++: it relies on the house style
(variables start with a lower-case letter or g_/s_, functions with an
upper-case one). `-v` lists every one found; an argument names another checkout. The
exit code is 0.
"""
import os
import re
import sys

FOLDERS = ["platform", "support", "vel", "db", "outbound", "dvr", "monitor",
           "engine", "passes", "bus", "module"]
SOURCE = (".h", ".cpp")
SKIP = re.compile(r"^\s*(static_assert|return|using|typedef|template|friend|extern|#)")
CONST = re.compile(r"\b(const|constexpr|constinit)\b(?![^<]*>)")
# A variable's name: lower-case first letter or a g_/s_ prefix, followed by
# an initialiser, constructor arguments or the end of the declaration.
NAME = r"(?:[a-z]\w*|[gs]_\w+)"
STATIC = re.compile(r"^\s*(?:inline\s+)?(?:thread_local\s+)?static\s+(?:thread_local\s+)?"
                    r"[\w:<>,*&\s]+?[\s*&]" + NAME + r"\s*(?:[({=;\[])")
GLOBAL = re.compile(r"^(?:thread_local\s+)?(?:std::|tev::|[A-Z]|(?:bool|char|int|long|unsigned|"
                    r"double|float|size_t|u?int\d+_t)\b)[\w:<>,*&\s]*?[\s*&]" + NAME +
                    r"\s*(?:[({=;\[])")


FUNCTION = re.compile(NAME + r"\s*\(\s*\)\s*(const\s*)?(override\s*)?;")


def scan(path):
    found = []
    depth = 0  # brace depth outside namespaces, roughly: 0 = namespace scope
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            code = line.split("//")[0].rstrip()
            if not code or SKIP.match(code) or FUNCTION.search(code):
                pass
            elif STATIC.match(code) and not CONST.search(code.split("=")[0].split("{")[0]):
                found.append((number, code.strip()))
            elif depth == 0 and GLOBAL.match(code) and code.endswith(";") and \
                    not CONST.search(code.split("=")[0]):
                found.append((number, code.strip()))
            if not re.match(r"^\s*namespace\b", code):
                depth += code.count("{") - code.count("}")
                depth = max(depth, 0)
    return found


def main():
    verbose = "-v" in sys.argv
    args = [a for a in sys.argv[1:] if a != "-v"]
    top = args[0] if args else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    total = 0
    for folder in FOLDERS:
        hits = []
        root = os.path.join(top, folder)
        for base, _, files in os.walk(root):
            for name in sorted(files):
                if name.endswith(SOURCE):
                    path = os.path.join(base, name)
                    hits += [(os.path.relpath(path, top), n, c) for n, c in scan(path)]
        total += len(hits)
        print(f"{folder:9} {len(hits)}")
        if verbose:
            for path, number, code in hits:
                print(f"    {path}:{number}: {code}")
    print(f"{'total':9} {total}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
