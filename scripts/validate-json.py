#!/usr/bin/env python3
"""Validates what quillon-cli --json printed against a schema of docs/schema/.

    validate-json.py SCHEMA                every JSON value of standard input
                                          against SCHEMA: one line per problem,
                                          then "N valid"
    validate-json.py SCHEMA FILE [SCHEMA FILE ...]
                                          each FILE against the SCHEMA before
                                          it: one line "FILE<TAB>ok<TAB>N" or
                                          "FILE<TAB>bad<TAB>PROBLEMS" per FILE
    validate-json.py --check-schemas DIR  every *.json of DIR is a valid schema

The input is a stream of JSON values (JSON Lines, or documents spanning
several lines as rdap --json prints them), strict UTF-8. Exits 0 only when
every input holds at least one value and every value is valid.
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


def validate(schema_path, data):
    """The problems of `data` (bytes) against the schema: a list of lines,
    and the number of valid values."""
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    validator = jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker())
    # Strict UTF-8: quillon-cli must never print anything else.
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        return [f"not UTF-8: {e}"], 0
    problems = []
    valid = 0
    try:
        for number, value in enumerate(values(text), 1):
            errors = list(validator.iter_errors(value))
            if errors:
                best = jsonschema.exceptions.best_match(errors)
                where = "/".join(str(p) for p in best.absolute_path) or "(top)"
                problems.append(f"value {number}: {where}: {best.message}")
            else:
                valid += 1
    except json.JSONDecodeError as e:
        problems.append(f"not JSON: {e}")
    if valid == 0 and not problems:
        problems.append("no JSON value")
    return problems, valid


def main(argv):
    if len(argv) == 3 and argv[1] == "--check-schemas":
        return check_schemas(argv[2])
    if len(argv) == 2:
        problems, valid = validate(argv[1], sys.stdin.buffer.read())
        for line in problems:
            print(line)
        print(f"{valid} valid" + (f", {len(problems)} problems" if problems else ""))
        return 1 if problems else 0
    if len(argv) < 3 or len(argv) % 2 != 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    status = 0
    for schema_path, path in zip(argv[1::2], argv[2::2]):
        with open(path, "rb") as f:
            problems, valid = validate(schema_path, f.read())
        if problems:
            status = 1
            print(f"{path}\tbad\t" + " | ".join(problems))
        else:
            print(f"{path}\tok\t{valid}")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
