#!/usr/bin/env python3
"""Independent reading of the part trees of real messages.

Usage: message_oracle.py CORPUS_DIR OUTPUT_FILE

Parses every *.eml file below CORPUS_DIR (sorted by relative path) with Python's own
email package (compat32 policy) and writes, per file, one line

    FILE <tab> file <tab> number of leaves

followed by one line per leaf part in Message.walk() order (pre-order):

    LEAF <tab> file <tab> leaf index <tab> media type <tab> encoding <tab> kind
         <tab> decoded size <tab> sha256(decoded) <tab> hex of the first decoded bytes

A file the package cannot read gives "FAIL <tab> file <tab> error" instead.

- media type: the Content-Type value before its first ';', without white space, in
  ASCII lower case, bytes outside '!'..'~' and '%' as %XX; empty when the part has no
  Content-Type. This is the header the part carries,
  so that both readers are compared on which header went with which body.
- encoding: the Content-Transfer-Encoding written the same way (empty when absent).
- kind: "bytes" for an ordinary leaf; "empty" when the part's body is empty (Python
  cannot tell an empty body from a body of one empty line before a delimiter, so both
  count as equal); "opaque" for a message/* part other than message/rfc822, which
  Python parses into sub-messages (message/delivery-status into header blocks) while
  the screen keeps it as one body: only its media type is compared.

The message is read as the screen receives it: its lines ended by CR LF. The screen
holds a body as lines, each followed by CR LF. Python drops the line break before a
delimiter from the body of every part inside a multipart (the last part of one without
closing delimiter too), and keeps a body that runs to the end of the input as it is;
the decoded bytes are taken of the body with that line break given back (a body that
runs to the end of the input gets one only when it does not end in one), as the screen
holds it. A multipart in which no delimiter of its own was found is one leaf to Python
whose body keeps that line break already.
"""

import email
import email.policy
import hashlib
import os
import re
import sys


def crlf_lines(data):
    return re.sub(rb"\r\n|\r|\n", b"\r\n", data)


def header_bytes(part, name):
    """The first field of that name as stored (8-bit bytes as they came)."""
    for field, value in part.raw_items():
        if field.lower() == name.lower():
            return str(value).encode("ascii", "surrogateescape")
    return b""


def printable(data):
    """The bytes as text: ASCII-lower-cased, white space removed, bytes outside '!'..'~'
    and '%' written as %XX."""
    data = re.sub(rb"[ \t\r\n]", b"", data).lower()
    return "".join(chr(b) if 0x21 <= b <= 0x7E and b != 0x25 else "%%%02X" % b for b in data)


def media_type(part):
    return printable(header_bytes(part, "Content-Type").split(b";", 1)[0])


def transfer_encoding(part):
    return printable(header_bytes(part, "Content-Transfer-Encoding"))


def leaves(message, delimited):
    """Yields (part, delimited, kind) in pre-order; delimited: the body ends before a
    delimiter of some enclosing multipart."""
    if message.is_multipart():
        if message.get_content_maintype() == "message" and \
                message.get_content_type() != "message/rfc822":
            yield message, delimited, "opaque"
            return
        inner_delimited = delimited or message.get_content_maintype() == "multipart"
        for sub in message.get_payload():
            yield from leaves(sub, inner_delimited)
        return
    yield message, delimited, "bytes"


def decoded(part, delimited):
    payload = part._payload
    if not isinstance(payload, str):
        return None
    raw = payload.encode("ascii", "surrogateescape")
    if not raw:
        return b""
    if delimited or not raw.endswith(b"\r\n"):
        raw += b"\r\n"
    part.set_payload(raw.decode("ascii", "surrogateescape"))
    if "Content-Transfer-Encoding" in part:
        # The package matches the encoding name untrimmed; the screen trims it.
        part.replace_header("Content-Transfer-Encoding", transfer_encoding(part))
    return part.get_payload(decode=True)


def describe(message):
    rows = []
    for part, delimited, kind in leaves(message, False):
        encoding = transfer_encoding(part)
        data = b""
        if kind == "bytes":
            # A multipart whose delimiter never came is one body to the package, and it
            # keeps the line break before the enclosing delimiter itself.
            own_break = part.get_content_maintype() == "multipart"
            data = decoded(part, delimited and not own_break)
            if data is None:
                kind, data = "opaque", b""
            elif not data:
                kind = "empty"
        rows.append((media_type(part), encoding, kind, data))
    return rows


def main():
    corpus, output = sys.argv[1], sys.argv[2]
    files = []
    for folder, _, names in os.walk(corpus):
        for name in names:
            if name.endswith(".eml"):
                files.append(os.path.relpath(os.path.join(folder, name), corpus))
    files.sort()
    with open(output, "w", encoding="ascii", errors="backslashreplace") as out:
        for relative in files:
            with open(os.path.join(corpus, relative), "rb") as f:
                data = crlf_lines(f.read())
            try:
                message = email.message_from_bytes(data, policy=email.policy.compat32)
                rows = describe(message)
            except Exception as error:  # the test reports it
                out.write("FAIL\t%s\t%s\n" % (relative, type(error).__name__))
                continue
            out.write("FILE\t%s\t%d\n" % (relative, len(rows)))
            for index, (media, encoding, kind, data) in enumerate(rows):
                out.write("LEAF\t%s\t%d\t%s\t%s\t%s\t%d\t%s\t%s\n" % (
                    relative, index, media, encoding, kind, len(data),
                    hashlib.sha256(data).hexdigest(), data[:24].hex()))


if __name__ == "__main__":
    main()
