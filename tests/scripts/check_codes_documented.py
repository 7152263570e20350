#!/usr/bin/env python3
"""The codes the JSON Schema allows are the ones the README and the manual
page explain, no more and no fewer.
  check_codes_documented.py SOURCE_DIR"""
import json
import re
import sys

root = sys.argv[1]
schema = json.load(open(f"{root}/docs/tarvik-update-cli.schema.json", encoding="utf-8"))
codes = set(schema["$defs"]["code"]["enum"])
readme = set(re.findall(r"^  \| `([a-z_]+)` \|", open(f"{root}/README.md", encoding="utf-8").read(), re.M))
page = open(f"{root}/packaging/linux/man/tarvik-update-cli.1.in", encoding="utf-8").read()
section = page[page.index(".SH REASON CODES"):page.index(".SH EXIT STATUS")]
manual = set(re.findall(r"^\.B ([a-z_]+)$", section, re.M))
status = 0
for name, listed in (("README.md", readme), ("the manual page", manual)):
    if listed != codes:
        print(f"{name}: missing {sorted(codes - listed)}, unknown {sorted(listed - codes)}", file=sys.stderr)
        status = 1
sys.exit(status)
