#!/usr/bin/env bash
# Tests of ocr/check_models.cmake, the check of the models' folder that scripts/setup and the
# models' package run: a table of folders, each either passing or refused with the file named.
# Usage: check_models_test.sh CHECK_MODELS_CMAKE
set -euo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The lists of two small models, a and b.
printf '%s  a\n%s  b.txt\n' "$(printf abcd | sha256sum | cut -d' ' -f1)" \
  "$(printf xyz | sha256sum | cut -d' ' -f1)" >"$work/lists.sha256"
printf '4  a\n3  b.txt\n' >"$work/lists.size"

# Each case: its name, the shell commands that spoil a good folder ($d), whether the check is
# exact, and what its error says ("" when it passes).
cases=(
  "good|:|OFF|"
  "good, exact|:|ON|"
  "a missing|rm \$d/a|OFF|no model file \$d/a"
  "a folder in a file's place|rm \$d/a; mkdir \$d/a|OFF|no model file \$d/a"
  "b one byte short|printf xy >\$d/b.txt|OFF|\$d/b.txt has 2 bytes, not 3"
  "b of its size but other bytes|printf xyZ >\$d/b.txt|OFF|\$d/b.txt has SHA-256"
  "another file, not exact|touch \$d/c|OFF|"
  "another file, exact|touch \$d/.c|ON|\$d/.c is not one of the models"
  "a list naming a folder|printf '4  ../a\n' >\$work/lists.size|OFF|not a line"
  "lists of other files|printf '4  a\n' >\$work/lists.size|OFF|list other files"
)
failures=0
for row in "${cases[@]}"; do
  IFS='|' read -r name spoil exact expected <<<"$row"
  d=$work/models
  rm -rf "$d" && mkdir "$d" && printf abcd >"$d/a" && printf xyz >"$d/b.txt"
  printf '4  a\n3  b.txt\n' >"$work/lists.size"
  eval "$spoil"
  expected=$(eval "echo \"$expected\"")
  if said=$(cmake -DDIR="$d" -DEXACT="$exact" -DLISTS="$work/lists" -P "$check" 2>&1); then
    [[ -z $expected ]] || { echo "FAILED: $name: passed, expected '$expected'" && failures=1; }
  else
    said=$(tr -s ' \n' ' ' <<<"$said")
    if [[ -z $expected || $said != *"$expected"* ]]; then
      echo "FAILED: $name: said '$said', expected '${expected:-a pass}'" && failures=1
    fi
  fi
done
((failures == 0)) && echo "check_models: ${#cases[@]} cases passed"
exit "$failures"
