#!/usr/bin/env python3
"""Independent decoding of the base64 and quoted-printable parts of real messages.

Usage: decoders_oracle.py CORPUS_DIR OUTPUT_FILE

Walks every *.eml file below CORPUS_DIR (sorted by relative path) with Python's own
email package (compat32 policy) and, for every non-multipart part whose
Content-Transfer-Encoding is base64 or quoted-printable, writes one line

    PART <tab> file <tab> part index <tab> encoding <tab> hex(raw body) <tab> hex(decoded)

The part index counts the parts in Message.walk() order, 0 being the message itself.
A file the package cannot read gives "FAIL <tab> file <tab> error" instead.

The message is read as the screen receives it: its lines ended by CR LF. The screen
holds a body as lines and every line, the last one included, is followed by CR LF, so
a body that stops without a final line break (a part before its boundary) gets one
before it is decoded here.
"""

import email
import email.policy
import os
import re
import sys


def crlf_lines(data):
    return re.sub(rb"\r\n|\r|\n", b"\r\n", data)


def encoded_parts(message):
    for index, part in enumerate(message.walk()):
        if part.is_multipart():
            continue
        encoding = str(part.get("Content-Transfer-Encoding", "")).strip().lower()
        if encoding not in ("base64", "quoted-printable"):
            continue
        # The stored payload itself: get_payload(decode=False) would turn 8-bit bytes
        # into the part's character set.
        payload = part._payload
        if not isinstance(payload, str):
            continue
        raw = payload.encode("ascii", "surrogateescape")
        if raw and not raw.endswith(b"\r\n"):
            raw += b"\r\n"
            part.set_payload(raw.decode("ascii", "surrogateescape"))
        # The package matches the encoding name untrimmed ("base64 " is no encoding to
        # it); the screen's header trims it, so both decode the same encoding.
        part.replace_header("Content-Transfer-Encoding", encoding)
        decoded = part.get_payload(decode=True)
        yield index, encoding, raw, decoded


def main():
    corpus, output = sys.argv[1], sys.argv[2]
    files = []
    for folder, _, names in os.walk(corpus):
        for name in names:
            if name.endswith(".eml"):
                files.append(os.path.relpath(os.path.join(folder, name), corpus))
    files.sort()
    with open(output, "w", encoding="ascii") as out:
        for relative in files:
            with open(os.path.join(corpus, relative), "rb") as f:
                data = crlf_lines(f.read())
            try:
                message = email.message_from_bytes(data, policy=email.policy.compat32)
                rows = list(encoded_parts(message))
            except Exception as error:  # the test reports it
                out.write("FAIL\t%s\t%s\n" % (relative, type(error).__name__))
                continue
            for index, encoding, raw, decoded in rows:
                out.write("PART\t%s\t%d\t%s\t%s\t%s\n" % (
                    relative, index, encoding,
                    raw.hex(), decoded.hex()))


if __name__ == "__main__":
    main()
