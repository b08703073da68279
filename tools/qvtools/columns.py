"""Fixed-column text fields, read and written by the same descriptors.

A layout is a list of edit descriptors: ``("I", w)``, ``("F", w, d)``,
``("E", w, d)``, ``("A", w)``, ``("X", w)``.  Reading goes the way the
program reads: fields may run together, blanks inside a field are ignored
and an F or E field without a decimal point takes its last d digits as
decimals.  Writing goes the way the program writes, and refuses a value that
does not fit its field.
"""

import math
import re

NAME_WIDTH = 14


class FormatError(ValueError):
    """A text file does not follow its fixed-column layout."""


# ---------------------------------------------------------------- columns

_REAL_RE = re.compile(r"^([+-]?)(\d*)(\.?)(\d*)(?:[ED]([+-]?\d+)|([+-]\d+))?$")


def fortran_int(text):
    """Read an Iw field: blanks are ignored, an all-blank field is 0."""
    s = text.replace(" ", "").strip()
    if not s:
        return 0
    try:
        return int(s)
    except ValueError:
        raise FormatError(f"not an integer: {text!r}") from None


def fortran_real(text, d=0):
    """Read an Fw.d or Ew.d field.

    Blanks are ignored (all blank reads 0); without a decimal point the last
    *d* digits are decimals; the exponent letter may be E, D or missing
    (``0.1234+100``).  ``nan`` and ``inf`` are accepted as written, and a
    field of asterisks (a value too wide for its field) reads as nan.
    """
    s = text.replace(" ", "").strip().upper()
    if not s:
        return 0.0
    m = _REAL_RE.match(s)
    if not m or not (m.group(2) or m.group(4)):
        if s.lstrip("+-") in ("NAN", "INF", "INFINITY"):
            return float(s)
        if set(s) == {"*"}:
            return float("nan")
        raise FormatError(f"not a number: {text!r}")
    sign, whole, point, frac, exp1, exp2 = m.groups()
    if point:
        mant = f"{whole or '0'}.{frac or '0'}"
    elif d > 0:
        digits = whole.rjust(d + 1, "0")
        mant = f"{digits[:-d]}.{digits[-d:]}"
    else:
        mant = whole
    exp = exp1 if exp1 is not None else exp2
    return float(f"{sign}{mant}e{int(exp) if exp is not None else 0}")


def parse_line(line, layout):
    """Cut *line* by a layout such as ``[("I", 6), ("F", 10, 4), ("X", 2)]``.

    Descriptors: I w, F w d, E w d, A w, X w.  A short line counts as padded
    with blanks.  Returns the values in order, X fields omitted.
    """
    line = line.rstrip("\r\n")
    values, pos = [], 0
    for desc in layout:
        kind, width = desc[0], desc[1]
        text = line[pos:pos + width].ljust(width)
        pos += width
        if kind == "X":
            continue
        if kind == "I":
            values.append(fortran_int(text))
        elif kind in ("F", "E"):
            values.append(fortran_real(text, desc[2]))
        elif kind == "A":
            values.append(text)
        else:
            raise ValueError(f"unknown edit descriptor {kind}")
    return values


# ---------------------------------------------------------------- writing

def fmt_i(value, width):
    """Iw: integer right-aligned in `width` columns."""
    if isinstance(value, bool) or int(value) != value:
        raise FormatError(f"{value!r} is not an integer")
    text = str(int(value))
    if len(text) > width:
        raise FormatError(f"integer {value} does not fit I{width}")
    return text.rjust(width)


def fmt_f(value, width, decimals):
    """Fw.d with the decimal point always written."""
    if not math.isfinite(value):
        raise FormatError(f"value {value!r} is not finite")
    text = f"{value:.{decimals}f}"
    if text.startswith("-") and float(text) == 0.0:
        text = text[1:]
    if len(text) > width:
        raise FormatError(f"value {value} does not fit F{width}.{decimals}")
    return text.rjust(width)


def fmt_f0(value, width=10):
    """F10.0 field for values such as Re: written with a point and as many
    decimals as the value needs, so it reads back as written."""
    if not math.isfinite(value):
        raise FormatError(f"value {value!r} is not finite")
    for decimals in range(0, width):
        if decimals == 0:
            text = f"{value:.0f}."
        else:
            text = f"{value:.{decimals}f}"
        if abs(float(text) - value) <= 1e-12 * max(1.0, abs(value)):
            break
    if len(text) > width:
        raise FormatError(f"value {value} does not fit F{width}.0")
    return text.rjust(width)


def fmt_e(value, width=13, decimals=5):
    """Ew.d: mantissa 0.ddddd, exponent letter E and a signed two-digit exponent."""
    if not math.isfinite(value):
        raise FormatError(f"value {value!r} is not finite")
    if value == 0.0:
        text = "0." + "0" * decimals + "E+00"
    else:
        digits, exp = f"{abs(value):.{decimals - 1}e}".split("e")
        exp = int(exp) + 1
        if abs(exp) > 99:
            raise FormatError(f"value {value} does not fit E{width}.{decimals}")
        sign = "-" if value < 0 else ""
        text = f"{sign}0.{digits.replace('.', '')}E{'+' if exp >= 0 else '-'}{abs(exp):02d}"
    if len(text) > width:
        raise FormatError(f"value {value} does not fit E{width}.{decimals}")
    return text.rjust(width)


def as_written(text):
    """The value the solver reads from a numeric field written here."""
    return float(text.replace("E", "e"))


def fmt_a(name, width=NAME_WIDTH, what="file name"):
    """Aw: a name left-aligned in `width` columns."""
    if not isinstance(name, str) or not name:
        raise FormatError(f"{what} must be a non-empty string")
    if len(name) > width:
        raise FormatError(f"{what} {name!r} is longer than {width} characters")
    if any(c.isspace() for c in name) or not name.isascii():
        raise FormatError(f"{what} {name!r} must be plain ASCII without blanks")
    return name.ljust(width)


def format_field(value, desc):
    """One field of a layout; an F w.0 field is written as fmt_f0 writes it."""
    kind, width = desc[0], desc[1]
    if kind == "X":
        return " " * width
    if kind == "I":
        return fmt_i(value, width)
    if kind == "F":
        return fmt_f0(value, width) if desc[2] == 0 else fmt_f(value, width, desc[2])
    if kind == "E":
        return fmt_e(value, width, desc[2])
    if kind == "A":
        return fmt_a(value, width)
    raise ValueError(f"unknown edit descriptor {kind}")


def format_line(values, layout):
    """A line of *values* in *layout* (X fields take no value)."""
    values = iter(values)
    return "".join(format_field(None if d[0] == "X" else next(values), d) for d in layout)


# ---------------------------------------------------------------- layouts

# "quivel_vib8.inf": 16 lines of (names of the values, layout).
PARAM_LAYOUT = [
    ("axisfile flagfile inputfile finalfile statfile", [("X", 2), ("A", 14)] * 5),
    ("nx ny nz", [("I", 5)] * 3),
    ("iyper izper", [("I", 5)] * 2),
    ("Re", [("F", 10, 0)]),
    ("Cs", [("F", 10, 5)]),
    ("dt", [("E", 13, 5)]),
    ("esp omg", [("F", 10, 5)] * 2),
    ("ca1 ca2", [("F", 10, 5)] * 2),
    ("nt", [("I", 5)]),
    ("nfile0 nfile vfile", [("X", 2), ("A", 14)] * 3),
    ("amas aitm", [("E", 13, 5)] * 2),
    ("xkst ykst tkst", [("E", 13, 5)] * 3),
    ("xh0 yh0 th0", [("F", 10, 5)] * 3),
    ("beta ndof", [("F", 10, 5), ("I", 5)]),
    ("xamp yamp tamp tfrc", [("F", 10, 5)] * 4),
    ("nsmp", [("I", 5)]),
]


def param_values(params):
    """The values of *params* (a dict by name) in the order of the 16 lines."""
    return [[params[key] for key in names.split()] for names, _ in PARAM_LAYOUT]


def param_lines(params):
    """The 16 lines of a parameter file holding *params* (a dict by name)."""
    return [format_line(vals, layout)
            for vals, (_, layout) in zip(param_values(params), PARAM_LAYOUT)]
