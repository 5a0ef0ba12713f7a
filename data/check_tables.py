#!/usr/bin/env python3
"""Checks the two source tables of the shipped data sets (drugs.tsv, regimens.tsv).

Run it after every edit of the tables:

    python3 data/check_tables.py            # checks data/drugs.tsv and data/regimens.tsv
    python3 data/check_tables.py -v         # also lists the warnings

It checks the text format (UTF-8, tabs, column counts, no empty fields, Windows-1252 characters
only, no backslash except the two-character line break) and the content rules: the version
records, the categories and codes, and that every drug named in a regimen, once the descriptive
phrases are stripped the way the regimen window strips them, is found as the best match of a drug
search run with the program's own scoring. It exits with status 1 when an error is found.
"""

import os
import re
import sys

DATA_VERSION = "1.2.0"
HERE = os.path.dirname(os.path.abspath(__file__))

DRUG_COLUMNS = 17
SEARCHED = [1, 1, 0, 0, 0, 1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0]
NAME_FIELDS = (5, 8, 9, 10)
CATEGORIES = {
    "Chemotherapy": "Chemotherapy",
    "Hormone Therapy": "Hormone Therapy",
    "Immunotherapy": "Immunotherapy",
    "Ancillary": "Ancillary, do not code",
}
CODES = ("Chemotherapy", "Hormone Therapy", "Immunotherapy", "Ancillary, do not code")
CODE_ENTRY = re.compile(r"^(%s)(, (%s))*$" % ("|".join(map(re.escape, CODES)), "|".join(map(re.escape, CODES))))

# The descriptive phrases the regimen window strips from a drug name, in its order.
IGNORE_PHRASES = [
    "by continuous infusion", "high-dose", "uroprotection", "dose-intensified", "escalated",
    "fractionated", "intermediate-dose", "low-dose", "pulse therapy", "escalating doses of",
    "second induction/maintenance", "pilot", "bone marrow transplant", "super", "swog", "modified",
]

errors = []
warnings = []


def error(where, text):
    errors.append("%s: %s" % (where, text))


def warn(where, text):
    warnings.append("%s: %s" % (where, text))


# ---------------------------------------------------------------- the program's text rules
def tokenize(text, delimiter):
    """Splits like the tokenizer: blanks (spaces) before each part skipped, no groups."""
    parts, pos, n = [], 0, len(text)
    while True:
        while pos < n and text[pos] == " ":
            pos += 1
        j = text.find(delimiter, pos)
        if j < 0:
            parts.append(text[pos:])
            return parts
        parts.append(text[pos:j])
        pos = j + len(delimiter)


def upper(text):
    return "".join(chr(ord(c) - 32) if "a" <= c <= "z" else c for c in text)


def lower(text):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


def deblank(text):
    i, j = 0, len(text)
    while i < j and ord(text[i]) <= 32:
        i += 1
    while j > i and ord(text[j - 1]) <= 32:
        j -= 1
    return text[i:j]


def remove_ignore_words(text):
    low = lower(text)
    for phrase in IGNORE_PHRASES:
        pos = low.find(phrase)
        if pos >= 0:
            return deblank(text[:pos] + text[pos + len(phrase):])
    return text


def remove_characters(text):
    return "".join(c for c in text if c.isascii() and c.isalnum())


def check_field(text, word, strength, matched):
    w = upper(word)
    hit = False
    for t in tokenize(text, " "):
        u = upper(t)
        if u == w:
            strength = 3
        elif u.startswith(w):
            strength = max(strength, 2)
        elif w in u:
            strength = max(strength, 1)
        else:
            continue
        matched.append(t)
        hit = True
    if not hit and w in upper(text):
        matched.append(word)
        strength = 3
        hit = True
    return hit, strength


def search(records, text):
    """Drug search with the program's passes and scores; returns [(score, strength, index)] best first."""
    if len(text) >= 2 and text.startswith('"') and text.endswith('"'):
        passes = [(text[1:-1], False)]
    else:
        toks = tokenize(text, " ")
        passes = [(toks[0], False)] if len(toks) == 1 else [(text, True)] + [(t, False) for t in toks]
    order, found = [], {}
    for word, phrase in passes:
        for idx, fields in enumerate(records):
            score, best, k, hits, matched = 0, 0, 0, 0, []
            for f in range(DRUG_COLUMNS):
                if not SEARCHED[f]:
                    continue
                hit, k = check_field(fields[f], word, k, matched)
                if not hit:
                    continue
                score += 1
                if f in NAME_FIELDS:
                    score += 9
                    if k == 3:
                        score += 100
                        if phrase:
                            score += 500
                hits += 1
                best = max(best, k)
                score += k
            if hits:
                if idx in found:
                    found[idx][0] += score
                else:
                    found[idx] = [score, best, len(order)]
                    order.append(idx)
    ranked = sorted(((s, m, pos, idx) for idx, (s, m, pos) in found.items()), key=lambda x: (-x[0], -x[1], x[2]))
    return [(s, m, idx) for s, m, _, idx in ranked]


def name_entries(fields):
    names = {upper(fields[5])}
    for f in (8, 9):
        if fields[f] != "EMPTY":
            names.update(upper(x.strip()) for x in fields[f].split(";"))
    return names


# ---------------------------------------------------------------- the text format
def read_table(path, columns=None):
    where = os.path.basename(path)
    raw = open(path, "rb").read()
    if raw.startswith(b"\xef\xbb\xbf"):
        error(where, "starts with a byte order mark")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        error(where, "not valid UTF-8 (%s)" % e)
        return [], []
    if "\r" in text:
        error(where, "contains carriage returns; lines must end with a line feed only")
    if not text.endswith("\n"):
        error(where, "the last line has no line feed")
    lines = text.split("\n")[:-1] if text.endswith("\n") else text.split("\n")
    header = lines[0].split("\t")
    if columns is not None and len(header) != columns:
        error(where, "header has %d columns, %d expected" % (len(header), columns))
    rows = []
    for n, line in enumerate(lines[1:], start=2):
        at = "%s line %d" % (where, n)
        fields = line.split("\t")
        if len(fields) != len(header):
            error(at, "%d columns, the header has %d" % (len(fields), len(header)))
            continue
        for i, v in enumerate(fields):
            fat = "%s column %d (%s)" % (at, i, header[i])
            if v == "":
                error(fat, "empty field (write EMPTY)")
                continue
            if v != v.strip():
                error(fat, "blanks at the start or end")
            if any(ord(c) < 32 or ord(c) == 127 for c in v):
                error(fat, "control character")
            try:
                v.encode("cp1252")
            except UnicodeEncodeError:
                error(fat, "character outside Windows-1252")
            if not v.isascii():
                warn(fat, "non-ASCII character")
            if re.search(r"\\(?!n)", v):
                error(fat, "backslash other than the line break \\n")
            if "  " in v:
                warn(fat, "two blanks in a row")
        rows.append((n, fields))
    return header, rows


# ---------------------------------------------------------------- content rules
def check_drugs(rows):
    if not rows:
        error("drugs.tsv", "no version record")
        return []
    n, version = rows[0]
    if version[1] != DATA_VERSION:
        error("drugs.tsv line %d" % n, "version record field 1 is %r, %r expected" % (version[1], DATA_VERSION))
    seen = {}
    for n, f in rows[1:]:
        at = "drugs.tsv line %d (%s)" % (n, f[5])
        if f[0] not in CATEGORIES:
            error(at, "unknown category %r" % f[0])
        elif f[6] != CATEGORIES[f[0]]:
            error(at, "code_as %r does not follow category %r" % (f[6], f[0]))
        if f[5] != upper(f[5]):
            warn(at, "generic name not in upper case")
        if upper(f[5]) in seen:
            error(at, "generic name already on line %d" % seen[upper(f[5])])
        seen[upper(f[5])] = n
        if f[11] != "EMPTY" and not all(re.fullmatch(r"\d{1,7}", p.strip()) for p in f[11].split(";")):
            error(at, "NSC numbers must be digits separated by ';'")
        if f[4] != "EMPTY" and not re.fullmatch(r"(19|20)\d\d", f[4]):
            error(at, "first_us_approval must be a year or EMPTY")
        if not re.fullmatch(r"\d{4}-\d\d-\d\d", f[16]):
            error(at, "reviewed must be a date YYYY-MM-DD")
    return [f for _, f in rows[1:]]


def searchable(fields):
    return [v.replace("\\n", "\n") for v in fields]


def check_regimens(rows, drugs):
    if not rows:
        error("regimens.tsv", "no version record")
        return
    n, version = rows[0]
    if version[1] != DATA_VERSION:
        error("regimens.tsv line %d" % n, "version record field 1 is %r, %r expected" % (version[1], DATA_VERSION))
    records = [searchable(f) for f in drugs]
    cache = {}
    for n, f in rows[1:]:
        at = "regimens.tsv line %d (%s)" % (n, f[0])
        if not remove_characters(f[0]):
            error(at, "the name has no letter or digit")
        names = tokenize(f[1], ";")
        codes = tokenize(f[2], ";")
        if len(names) != len(codes):
            error(at, "%d drugs but %d code entries" % (len(names), len(codes)))
            continue
        for name, code in zip(names, codes):
            if not CODE_ENTRY.match(code.strip()):
                error(at, "code entry %r is not one of the treatment codes" % code)
            clean = deblank(remove_ignore_words(name))
            if not clean:
                error(at, "empty drug entry")
                continue
            if clean not in cache:
                cache[clean] = search(records, clean)
            ranked = cache[clean]
            if not ranked:
                error(at, "drug %r finds nothing" % clean)
                continue
            top = drugs[ranked[0][2]]
            if upper(clean) not in name_entries(top):
                error(at, "drug %r: best match is %s, not a record of that name" % (clean, top[5]))
                continue
            if len(ranked) > 1 and ranked[1][:2] == ranked[0][:2]:
                warn(at, "drug %r ties with %s" % (clean, drugs[ranked[1][2]][5]))
            if code.strip() != top[6]:
                warn(at, "drug %r coded %r here, %r in its drug record" % (clean, code.strip(), top[6]))


def check_name_searches(drugs):
    """Searching a drug's generic name, brand, abbreviation or other name should list that drug first."""
    records = [searchable(f) for f in drugs]
    for i, f in enumerate(drugs):
        terms = [f[5]] + [x.strip() for k in (8, 9, 13) if f[k] != "EMPTY" for x in f[k].split(";")]
        for term in terms:
            ranked = search(records, term)
            if not ranked or ranked[0][2] != i:
                best = drugs[ranked[0][2]][5] if ranked else "nothing"
                (error if term == f[5] else warn)(
                    "drugs.tsv (%s)" % f[5], "search %r lists %s first" % (term, best))


def main():
    verbose = "-v" in sys.argv[1:]
    _, drug_rows = read_table(os.path.join(HERE, "drugs.tsv"), DRUG_COLUMNS)
    _, regimen_rows = read_table(os.path.join(HERE, "regimens.tsv"))
    drugs = check_drugs(drug_rows)
    check_regimens(regimen_rows, drugs)
    check_name_searches(drugs)
    if verbose:
        for w in warnings:
            print("warning:", w)
    for e in errors:
        print("error:", e)
    print("%d drugs, %d regimens: %d errors, %d warnings" %
          (len(drugs), max(len(regimen_rows) - 1, 0), len(errors), len(warnings)))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
