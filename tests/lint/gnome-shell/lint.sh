#!/usr/bin/env bash
# The lint of the GNOME Shell extension's JavaScript: ESLint, at the version package-lock.json
# pins, installed once into the build folder, with GNOME Shell's rules for extensions
# (data/gnome-shell/eslint.config.mjs). Skipped (status 77) where npm is not installed.
#   usage: lint.sh SOURCE_DIR BUILD_DIR
set -u
source_dir=$(cd "${1:?usage: lint.sh SOURCE_DIR BUILD_DIR}" && pwd)
work=${2:?usage: lint.sh SOURCE_DIR BUILD_DIR}/npm-lint
for tool in node npm; do
    command -v "$tool" >/dev/null 2>&1 || { echo "lint.sh: $tool is not installed — skipped" >&2; exit 77; }
done
here=$source_dir/tests/lint/gnome-shell
mkdir -p "$work"
if ! cmp -s "$here/package-lock.json" "$work/package-lock.json" || [ ! -x "$work/node_modules/.bin/eslint" ]; then
    cp "$here/package.json" "$here/package-lock.json" "$work/"
    (cd "$work" && npm ci --no-audit --no-fund --loglevel=error) || { echo "lint.sh: npm could not install ESLint" >&2; exit 1; }
fi
cd "$source_dir/data/gnome-shell" && "$work/node_modules/.bin/eslint" --max-warnings 0 .
