#!/usr/bin/env bash
# Checks that the C++ lines changed since a base commit are laid out as
# .clang-format says. Only changed lines are held to it, so older code is
# left alone until someone edits it; `// clang-format off` sections are
# kept as written. Prints the diff clang-format would apply and exits 1 when
# there is one. Checks the committed files, not the working tree.
#
# Base: $WEBSETUP_FORMAT_BASE, else the parent of HEAD (a clean clone checks
# its newest commit); without either the check is skipped. Fix the lines with
# `git clang-format <base>`.
set -euo pipefail
cd "$(dirname "$0")/.."

# The style was tuned against clang-format 14; other versions lay out a few
# constructs differently, so 14 comes first when both are installed.
formatter=$(command -v clang-format-14 || command -v clang-format || true)
driver=$(command -v git-clang-format-14 || command -v git-clang-format || true)
if [ -z "$formatter" ] || [ -z "$driver" ]; then
  echo "format check: clang-format is not installed, skipped"
  exit 0
fi
if ! git rev-parse --verify -q HEAD >/dev/null 2>&1; then
  echo "format check: not a git checkout, skipped"
  exit 0
fi

base=${WEBSETUP_FORMAT_BASE:-}
if [ -z "$base" ]; then
  if ! git rev-parse --verify -q 'HEAD~1^{commit}' >/dev/null; then
    echo "format check: HEAD has no parent to compare with, skipped"
    exit 0
  fi
  base=HEAD~1
fi
if ! git rev-parse --verify -q "$base^{commit}" >/dev/null; then
  echo "format check: base '$base' is not a commit" >&2
  exit 2
fi

# Files deleted since the base have no lines to check; build folders hold
# generated sources that are not ours to lay out.
mapfile -t files < <(git diff --name-only --diff-filter=d "$base" HEAD -- '*.cc' '*.h' \
  | grep -Ev '^build[^/]*/' || true)
if [ ${#files[@]} -eq 0 ]; then
  echo "format check: no C++ files changed since $base"
  exit 0
fi

# With two commits the driver formats HEAD's copy of each file, so edits
# still uncommitted in the working tree neither hide nor cause a failure.
# Version 14 exits 0 even when it prints a diff (later ones exit 1), so
# the diff itself is the verdict.
set +e
out=$("$driver" --binary "$formatter" --extensions cc,h --diff "$base" HEAD -- "${files[@]}" 2>&1)
rc=$?
set -e
if [ $rc -gt 1 ]; then
  echo "$out"
  echo "format check: git-clang-format failed ($rc)" >&2
  exit 2
fi
if grep -q '^diff --git' <<<"$out"; then
  echo "$out"
  echo "format check: lines changed since $base are not formatted as .clang-format says." >&2
  echo "format check: apply the diff above with: git clang-format $base" >&2
  exit 1
fi
echo "format check: lines changed since $base are formatted (${#files[@]} files)"
