# Writes an ASCII DXF drawing as binary DXF, for the tests of the binary converter:
#     python3 tests/binaryDxf.py in.dxf out.dxf [--r12]
"""Each ASCII group becomes a binary group whose value has the type its code fixes.

Group codes take two bytes (little-endian), as from R13 on; with --r12 one byte, as up to
R12, a code above 254 written as the byte 255 and the code in two bytes.

Strings are written byte for byte, the line's CR (if any) left off, then a zero byte.
Numbers are read from the line with the spaces around them left off: a real as the
decimal (or exponent) form DXF writers use, an integer in decimal, or as a decimal with
nothing after the point ("1.0", as some writers put flags) when the code wants an
integer. Binary chunks are hexadecimal, one length byte and at most 255 bytes.

The drawing ends at its 0/EOF group, as readers take it: nothing after it is written.
A drawing the writer cannot write faithfully is refused, exit status 1 and the line on
standard error, rather than written with a value made up: a code line that is not a
number, a value that is not a number (or does not fit the integer's width) where the
code wants one, a chunk that is not hexadecimal or too long, a string holding a zero
byte, a code without its value line.
"""

import re
import struct
import sys

SENTINEL = b"AutoCAD Binary DXF\r\n\x1a\x00"

# Value types by code; every code not named is a string.
RANGES = [
    (10, 59, "real"), (60, 79, "int16"), (90, 99, "int32"), (110, 149, "real"),
    (160, 169, "int64"), (170, 179, "int16"), (210, 239, "real"), (270, 289, "int16"),
    (290, 299, "bool"), (310, 319, "chunk"), (370, 389, "int16"), (400, 409, "int16"),
    (420, 429, "int32"), (440, 459, "int32"), (460, 469, "real"), (1004, 1004, "chunk"),
    (1010, 1059, "real"), (1060, 1070, "int16"), (1071, 1071, "int32"),
]
INTEGERS = {  # struct format and the range of values it holds
    "int16": ("<h", -(1 << 15), (1 << 15) - 1),
    "int32": ("<i", -(1 << 31), (1 << 31) - 1),
    "int64": ("<q", -(1 << 63), (1 << 63) - 1),
    "bool": ("<B", 0, 255),
}
CODE = re.compile(rb"[0-9]+")
INTEGER = re.compile(rb"[+-]?[0-9]+")
REAL = re.compile(rb"[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?")
HEX = re.compile(rb"([0-9A-Fa-f]{2})*")


class Refused(Exception):
    """The drawing holds a group the writer cannot write faithfully."""


def value_type(code):
    for first, last, kind in RANGES:
        if first <= code <= last:
            return kind
    return "string"


def integer_of(text, kind):
    if INTEGER.fullmatch(text):
        number = int(text)
    elif REAL.fullmatch(text) and float(text).is_integer():
        number = int(float(text))
    else:
        raise Refused(f"{text!r} is not an integer")
    form, low, high = INTEGERS[kind]
    if not low <= number <= high:
        raise Refused(f"{number} does not fit the {kind} value")
    return struct.pack(form, number)


def encode_value(code, value):
    kind = value_type(code)
    if kind == "string":
        if b"\0" in value:
            raise Refused("a string holds a zero byte")
        return value + b"\0"
    text = value.strip()
    if kind == "real":
        if not REAL.fullmatch(text):
            raise Refused(f"{text!r} is not a number")
        return struct.pack("<d", float(text))
    if kind == "chunk":
        if not HEX.fullmatch(text) or len(text) > 2 * 255:
            raise Refused("a binary chunk that is not hexadecimal, or longer than 255 bytes")
        return bytes([len(text) // 2]) + bytes.fromhex(text.decode("ascii"))
    return integer_of(text, kind)


def encode_code(code, r12):
    if not r12:
        return struct.pack("<H", code)
    if code < 255:
        return bytes([code])
    return b"\xff" + struct.pack("<H", code)


def write_binary(ascii_bytes, r12=False):
    """Returns the binary twin of `ascii_bytes`; raises Refused with the line's number."""
    lines = ascii_bytes.split(b"\n")
    # Blank lines at the very end are no groups.
    while lines and lines[-1].strip() == b"":
        lines.pop()
    out = [SENTINEL]
    index = 0
    while index < len(lines):
        number = index + 1
        try:
            code_text = lines[index].rstrip(b"\r").strip()
            if not CODE.fullmatch(code_text) or int(code_text) > 0xFFFF:
                raise Refused(f"group code {code_text!r} is not a number from 0 to 65535")
            code = int(code_text)
            if index + 1 >= len(lines):
                raise Refused(f"group code {code} has no value line")
            value = lines[index + 1]
            if value.endswith(b"\r"):
                value = value[:-1]
            number += 1
            out.append(encode_code(code, r12))
            out.append(encode_value(code, value))
        except Refused as refusal:
            raise Refused(f"line {number}: {refusal}") from None
        index += 2
        if code == 0 and value.strip() == b"EOF":
            break
    return b"".join(out)


def main(argv):
    args = [a for a in argv if a != "--r12"]
    if len(args) != 2 or any(a.startswith("-") for a in args):
        print("usage: python3 binaryDxf.py in.dxf out.dxf [--r12]", file=sys.stderr)
        return 2
    source, target = args
    with open(source, "rb") as f:
        ascii_bytes = f.read()
    try:
        binary = write_binary(ascii_bytes, r12="--r12" in argv)
    except Refused as refusal:
        print(f"{source}: {refusal}", file=sys.stderr)
        return 1
    with open(target, "wb") as f:
        f.write(binary)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
