#!/usr/bin/env python3
"""Checks every JSON document the CLI tests kept against the CLI's schema.

validate_json_documents.py SCHEMA FOLDER [--all-invalid]
Exits 1 when the schema is not a valid JSON Schema, when a document does not
parse or does not match it, or when the folder holds no document at all (the
tests that keep them did not run, or kept nothing). With --all-invalid the
folder holds counterexamples: exits 1 when any of them matches the schema.
"""
import json
import pathlib
import sys

import jsonschema


def main() -> int:
    schema_path, folder = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    all_invalid = sys.argv[3:] == ["--all-invalid"]
    schema = json.loads(schema_path.read_text(encoding="utf-8"))
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    files = sorted(folder.glob("*.json")) if folder.is_dir() else []
    if not files:
        print(f"no JSON documents in {folder}: the CLI tests kept none")
        return 1
    failures = 0
    commands = {}
    for path in files:
        text = path.read_text(encoding="utf-8", errors="replace")
        try:
            document = json.loads(text)
        except json.JSONDecodeError as error:
            print(f"{path.name}: not one JSON document: {error}")
            failures += 1
            continue
        errors = sorted(validator.iter_errors(document), key=lambda e: list(e.absolute_path))
        if all_invalid:
            if not errors:
                print(f"{path.name}: matches the schema, which should refuse it")
                failures += 1
            continue
        for error in errors:
            where = "/".join(str(p) for p in error.absolute_path) or "(document)"
            print(f"{path.name}: {where}: {error.message}")
        failures += 1 if errors else 0
        if isinstance(document, dict):
            commands[document.get("command")] = commands.get(document.get("command"), 0) + 1
    if all_invalid:
        print(f"{len(files)} counterexamples, {failures} matching the schema")
    else:
        print(f"{len(files)} documents, {failures} not matching; by command: {commands}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
