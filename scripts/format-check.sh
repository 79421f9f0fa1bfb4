#!/usr/bin/env bash
# Checks that the C++ files changed since BASE, uncommitted changes included,
# are formatted as the repository's .clang-format says, and shows for each
# one that is not the changes clang-format would make. BASE is anything git
# names a commit by (main, HEAD~3, a hash); a branch is compared from where
# it left BASE. Without BASE: the files the last commit changed.
#
# Usage: bash scripts/format-check.sh [BASE]
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-HEAD~1}

bash scripts/deps.sh --format
if since=$(git merge-base "$base" HEAD 2>/dev/null); then
  mapfile -t files < <(git diff --name-only --diff-filter=d "$since" -- '*.cpp' '*.h')
elif [ $# -eq 0 ]; then
  # A clone without the last commit's parent (a shallow one): every file.
  base="nothing (no earlier commit here)"
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
  echo "format-check: git knows no commit $base" >&2
  exit 2
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "format-check: no C++ file changed since $base"
  exit 0
fi

unformatted=()
for file in "${files[@]}"; do
  if ! clang-format --style=file "$file" | diff -u --label "$file" --label "$file (formatted)" "$file" -; then
    unformatted+=("$file")
  fi
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "format-check: ${#unformatted[@]} of ${#files[@]} changed files are not formatted; fix them with"
  echo "  clang-format -i ${unformatted[*]}"
  exit 1
fi
echo "format-check: the ${#files[@]} C++ files changed since $base are formatted"
