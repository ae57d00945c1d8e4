#!/usr/bin/env bash
# Keeps the code's pointers into docs/design.md true: every section that a
# comment names there, as `docs/design.md, "Section"` (a comment may wrap
# the name over lines), must be one of the document's headings.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

python3 - docs/design.md $(git ls-files 'src/*' 'tests/*' 'bench/*' 'fuzz/*.cpp' 'fuzz/*.h' 'tools/*' \
  'CMakeLists.txt' 'cmake/*' | grep -v '^tools/check-docs.sh$') <<'EOF'
import re, sys

doc, sources = sys.argv[1], sys.argv[2:]
headings = {m.group(1).strip() for m in re.finditer(r"^#+\s+(.+)$", open(doc).read(), re.M)}
comment = re.compile(r"^\s*(?://+|#+)\s?(.*)$")
pointer = re.compile(r'design\.md,?\s+"([^"]+)"')
bad = 0
for path in sources:
    try:
        lines = open(path, encoding="utf-8").read().splitlines()
    except (UnicodeDecodeError, IsADirectoryError):
        continue
    # Each run of comment lines as one text, with the line each starts on.
    runs, text, start = [], [], 0
    for n, line in enumerate(lines + [""], 1):
        m = comment.match(line)
        if m:
            if not text:
                start = n
            text.append(m.group(1))
        elif text:
            runs.append((start, " ".join(text)))
            text = []
        if not m and "design.md" in line:
            runs.append((n, line))
    for start, body in runs:
        for name in pointer.findall(re.sub(r"\s+", " ", body)):
            if name not in headings:
                print(f'{path}:{start}: "{name}" is no heading of {doc}')
                bad += 1
if bad:
    sys.exit(1)
print(f"every section of {doc} that the code names is one of its headings")
EOF
