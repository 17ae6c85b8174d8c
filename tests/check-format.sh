#!/bin/sh
# Checks that the C++ sources and tests follow the repository's .clang-format:
# every tracked *.cpp and *.h under src, tests, bench and fuzz, except the sample
# programs under tests/data, whose C sources are test data compiled by other tools. Prints the places that
# differ and exits 1; exits 77 (skipped) when clang-format is not installed, except in CI
# (CI set), where the check must run.
# To reformat a file: clang-format -i FILE
set -eu
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null 2>&1; then
  echo "clang-format not found: formatting not checked (install clang-format)"
  if [ -n "${CI:-}" ]; then exit 1; fi
  exit 77
fi
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  list() { git ls-files -z -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' \
    'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h' ':!tests/data/*'; }
else
  list() { find src tests bench fuzz -path tests/data -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0; }
fi
count=$(list | tr -cd '\0' | wc -c)
if [ "$count" -eq 0 ]; then
  echo "no source files found"
  exit 1
fi
if list | xargs -0 clang-format --dry-run --Werror; then
  echo "$count files formatted as .clang-format says ($(clang-format --version))"
else
  echo "some files are not formatted as .clang-format says: run clang-format -i on them"
  exit 1
fi
