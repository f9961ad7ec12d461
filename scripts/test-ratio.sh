#!/usr/bin/env bash
# Prints the size of the tests against the size of the code they test: non-blank lines that are
# not only a comment, in the .cpp and .h files under tests/ and under src/.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    find "$1" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat | awk '
        /^[[:space:]]*$/ { next }
        in_block { if ($0 ~ /\*\//) in_block = 0; next }
        /^[[:space:]]*\/\// { next }
        /^[[:space:]]*\/\*/ { if ($0 !~ /\*\//) in_block = 1; next }
        { n++ }
        END { print n + 0 }'
}

tests=$(count tests)
code=$(count src)
LC_ALL=C awk -v t="$tests" -v s="$code" 'function grouped(n) {
        return n >= 1000 ? sprintf("%d,%03d", n / 1000, n % 1000) : n
    }
    BEGIN { printf "tests/src: %s / %s = %.2f\n", grouped(t), grouped(s), t / s }'
