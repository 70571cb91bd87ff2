#!/usr/bin/env python3
"""Fails when a C++ function body runs over the line limit.

usage: check-function-length.py LIMIT FOLDER...

Reads every .cpp and .h below the folders. Comments, string and character
literals are blanked first, so that their braces do not count. A body is a
brace that follows a closing parenthesis (with qualifiers or a trailing
return type between) outside any other function and is not the block of an
if, for, while, switch or catch; test bodies (TEST(...) {) count like any
function, and lambdas count as part of the function around them. A body's
length is its lines from the opening brace to the closing one.
"""
import pathlib
import re
import sys

FUNCTION_HEAD = re.compile(r"\)\s*(?:(?:const|noexcept|override|final|mutable)\s*|->\s*[\w:<>*&, ]+)*$")
STATEMENT_HEAD = re.compile(r"\b(?:if|for|while|switch|catch)\s*\(")
TYPE_HEAD = re.compile(r"\b(?:namespace|struct|class|enum|union)\b[^()]*$")


def blank(text, start, end):
    return re.sub(r"[^\n]", " ", text[start:end])


def without_comments_and_literals(source):
    out, i, n = [], 0, len(source)
    while i < n:
        if source.startswith("//", i):
            end = source.find("\n", i)
            end = n if end < 0 else end
        elif source.startswith("/*", i):
            end = source.find("*/", i + 2)
            end = n if end < 0 else end + 2
        elif (raw := re.match(r'R"([^(\s]*)\(', source[i:i + 20])) and (i == 0 or not source[i - 1].isalnum()):
            close = source.find(")" + raw.group(1) + '"', i)
            end = n if close < 0 else close + len(raw.group(1)) + 2
        elif source[i] in "\"'" and not (source[i] == "'" and i > 0 and source[i - 1].isalnum()):
            quote, end = source[i], i + 1
            while end < n and source[end] not in (quote, "\n"):
                end += 2 if source[end] == "\\" else 1
            end += 1
        else:
            out.append(source[i])
            i += 1
            continue
        out.append(blank(source, i, end))
        i = end
    return "".join(out)


def long_functions(path, limit):
    text = without_comments_and_literals(path.read_text(encoding="utf-8", errors="replace"))
    open_blocks, head_start, found = [], 0, []
    for i, c in enumerate(text):
        if c == "{":
            head = " ".join(text[head_start:i].split())
            in_function = any(kind == "function" for kind, _, _ in open_blocks)
            is_function = (not in_function and FUNCTION_HEAD.search(head) and not STATEMENT_HEAD.search(head)
                           and not TYPE_HEAD.search(head))
            open_blocks.append(("function" if is_function else "block", text.count("\n", 0, i) + 1, head))
            head_start = i + 1
        elif c == "}":
            if open_blocks:
                kind, first, head = open_blocks.pop()
                lines = text.count("\n", 0, i) + 1 - first + 1
                if kind == "function" and lines > limit:
                    found.append((first, lines, head[-70:]))
            head_start = i + 1
        elif c == ";":
            head_start = i + 1
    return found


def main(limit, folders):
    over = 0
    for folder in folders:
        for path in sorted(pathlib.Path(folder).rglob("*")):
            if path.suffix not in (".cpp", ".h"):
                continue
            for first, lines, head in long_functions(path, limit):
                print(f"{path}:{first}: {lines} lines: {head}")
                over += 1
    print(f"functions over {limit} lines: {over}")
    return 1 if over else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(int(sys.argv[1]), sys.argv[2:]))
