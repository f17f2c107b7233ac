#!/usr/bin/env python3
"""Validates what quillon-cli --json printed against a schema of docs/schema/.

    validate-json.py SCHEMA [FILE]        every JSON value of FILE (or standard
                                          input) against SCHEMA
    validate-json.py --check-schemas DIR  every *.json of DIR is a valid schema

The input is a stream of JSON values (JSON Lines, or documents spanning
several lines as rdap --json prints them). Prints one line per invalid value
and a last line "N valid", "N valid, M invalid" or "no JSON value"; exits 0
only when there is at least one value and every one is valid.
Needs python3-jsonschema (Debian).
"""
import glob
import json
import os
import sys

import jsonschema


def values(text):
    decoder = json.JSONDecoder()
    at = 0
    while True:
        while at < len(text) and text[at] in " \t\r\n":
            at += 1
        if at >= len(text):
            return
        value, at = decoder.raw_decode(text, at)
        yield value


def check_schemas(folder):
    files = sorted(glob.glob(os.path.join(folder, "*.json")))
    for name in files:
        with open(name, encoding="utf-8") as f:
            jsonschema.Draft7Validator.check_schema(json.load(f))
    print(f"{len(files)} schemas")
    return 0 if files else 1


def main(argv):
    if len(argv) == 3 and argv[1] == "--check-schemas":
        return check_schemas(argv[2])
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator = jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker())
    if len(argv) == 3:
        with open(argv[2], "rb") as f:
            data = f.read()
    else:
        data = sys.stdin.buffer.read()
    # Strict UTF-8: quillon-cli must never print anything else.
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        print(f"not UTF-8: {e}")
        return 1
    valid = invalid = 0
    try:
        for number, value in enumerate(values(text), 1):
            errors = sorted(validator.iter_errors(value), key=lambda e: list(e.absolute_path))
            if errors:
                invalid += 1
                best = jsonschema.exceptions.best_match(errors)
                where = "/".join(str(p) for p in best.absolute_path) or "(top)"
                print(f"value {number}: {where}: {best.message}")
            else:
                valid += 1
    except json.JSONDecodeError as e:
        print(f"not JSON: {e}")
        return 1
    if valid + invalid == 0:
        print("no JSON value")
        return 1
    print(f"{valid} valid" + (f", {invalid} invalid" if invalid else ""))
    return 0 if invalid == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
