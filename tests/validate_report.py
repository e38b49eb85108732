#!/usr/bin/env python3
"""Validates import reports against doc/report.schema.json.

Usage: validate_report.py SCHEMA REPORT...

Each report must be strict UTF-8, parse as JSON and follow the schema;
every problem is printed, one per line, and the exit code is 1 when there
is any.
"""
import json
import sys

import jsonschema


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    failures = 0
    for path in argv[2:]:
        try:
            with open(path, "rb") as f:
                report = json.loads(f.read().decode("utf-8", errors="strict"))
        except (UnicodeDecodeError, ValueError) as e:
            print(f"{path}: not UTF-8 JSON: {e}")
            failures += 1
            continue
        for error in validator.iter_errors(report):
            print(f"{path}: {'/'.join(str(p) for p in error.absolute_path) or '(root)'}: {error.message}")
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
