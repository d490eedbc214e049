#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Formats the project's C and C++ sources with the repository's .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z --cached --others --exclude-standard '*.c' '*.cpp' '*.h' | xargs -0 clang-format -i
