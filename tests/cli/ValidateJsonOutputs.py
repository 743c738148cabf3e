#!/usr/bin/env python3
"""Validates every JSON document the CLI tests made the program print against the published schema.

Each file in the folder holds one run's stdout: a --json run one result object, an --events run one
event per line (and the result object last when --json was given too). Every line must parse and
match the schema; a --json run must end with a result object. Without any file (no JSON-printing
test ran) the check is skipped (exit 77)."""
import json
import pathlib
import sys

import jsonschema


def main():
    schema_path, folder = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    schema = json.loads(schema_path.read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    files = sorted(folder.glob("*.json*")) if folder.is_dir() else []
    if not files:
        print(f"no JSON output of a CLI test in {folder}: nothing to validate")
        return 77
    failures = 0
    documents = 0
    for path in files:
        lines = [line for line in path.read_text(encoding="utf-8").splitlines() if line.strip()]
        if not lines:
            print(f"{path.name}: the run printed no JSON")
            failures += 1
            continue
        for number, line in enumerate(lines, 1):
            try:
                document = json.loads(line)
            except json.JSONDecodeError as error:
                print(f"{path.name}:{number}: not JSON: {error}: {line[:200]}")
                failures += 1
                continue
            documents += 1
            for error in validator.iter_errors(document):
                print(f"{path.name}:{number}: {'/'.join(map(str, error.absolute_path))}: {error.message[:300]}")
                failures += 1
        try:
            last = json.loads(lines[-1])
        except json.JSONDecodeError:
            continue
        if path.suffix == ".json" and (not isinstance(last, dict) or "event" in last):
            print(f"{path.name}: a --json run must end with the result object")
            failures += 1
    print(f"{documents} documents in {len(files)} runs checked, {failures} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
