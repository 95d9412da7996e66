#!/usr/bin/env python3
"""Counts the defects Python's email package finds in pairs of messages.

Reads lines "original<TAB>screened" from the file named by the first argument and
writes "original<TAB>defects of original<TAB>defects of screened" for each to the file
named by the second. A message that cannot be read at all counts -1.
"""
import email
import email.policy
import sys


def defects(path):
    try:
        with open(path, "rb") as handle:
            message = email.message_from_binary_file(handle, policy=email.policy.compat32)
    except Exception:  # a message Python cannot read at all
        return -1
    count = 0
    for part in message.walk():
        count += len(part.defects)
    return count


def main():
    with open(sys.argv[1], encoding="utf-8", errors="surrogateescape") as pairs, \
            open(sys.argv[2], "w", encoding="utf-8", errors="surrogateescape") as out:
        for row in pairs:
            original, screened = row.rstrip("\n").split("\t")
            out.write(f"{original}\t{defects(original)}\t{defects(screened)}\n")


if __name__ == "__main__":
    main()
