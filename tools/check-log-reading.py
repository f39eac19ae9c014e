#!/usr/bin/env python3
"""Fails when product code searches the error log's text to decide something.

The log is the story for people; what went wrong travels as typed values. A log's text is read
through lastErrorText, ErrorLogText, ErrorReportText or LogText; this check finds the names that
text lands in and fails on any search over them (find, contains, Holds, FindNoCase, strstr,
starts_with, ends_with, compare, ==), and on names that say they hold log text.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
PRODUCT = ["base", "net", "http", "spider", "app"]
READERS = r"(?:lastErrorText|ErrorLogText|ErrorReportText|LogText)"
SEARCH = r"(?:\.find|\.rfind|\.contains|\.compare|\.starts_with|\.ends_with|\bHolds\w*|" \
         r"\bFindNoCase|\bstrstr|\bStartsWithNoCase|==|!=)"

def holders(text):
    """Names that receive a log's text in this file."""
    names = set(re.findall(READERS + r"\(\s*(\w+)\s*\)", text))
    names |= set(re.findall(r"(\w+)\s*=\s*[\w.>-]*" + READERS + r"\(\s*\)", text))
    names |= set(re.findall(r"\b(\w*[lL]og_?[tT]ext\w*)\b", text))
    return {n for n in names if n not in {"out", "text"}}

def main():
    problems = []
    for folder in PRODUCT:
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            text = path.read_text(errors="replace")
            names = holders(text)
            for number, line in enumerate(text.splitlines(), 1):
                code = line.split("//", 1)[0]
                direct = re.search(READERS + r"\([^)]*\)\s*" + SEARCH, code)
                used = any(re.search(r"\b" + re.escape(n) + r"\b", code) for n in names)
                if direct or (used and re.search(SEARCH, code)):
                    problems.append(f"{path.relative_to(ROOT)}:{number}: {line.strip()}")
    for problem in problems:
        print("reads the log's text:", problem)
    if not problems:
        print("log reading: no product code searches the log's text")
    return 1 if problems else 0

if __name__ == "__main__":
    sys.exit(main())
