# Sourced by the table test scripts: a temporary working directory, removed on exit, and fail().
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
