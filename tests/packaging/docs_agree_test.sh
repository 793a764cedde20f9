#!/usr/bin/env bash
# The help, the manual page and the shell completion cannot drift apart: every option the help
# lists is offered by the completion and named by the manual page, and every environment
# variable the help names is in the manual page's ENVIRONMENT section.
# Usage: docs_agree_test.sh BRIMWELL MANPAGE COMPLETION
set -euo pipefail
binary=$1 manpage=$2 completion=$3
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

help=$("$binary" --help)
# Options: words that start with one or two dashes and a letter, in the help above its
# "Environment:" section (the descriptions name options too; those must exist all the same).
options=$(sed '/^Environment:/,$d' <<<"$help" | grep -oE '(^|[ ,(])--?[a-zA-Z][a-zA-Z-]*' |
  sed -E 's/^[ ,(]//' | sort -u)
variables=$(sed -n '/^Environment:/,/^$/p' <<<"$help" | grep -oE '^  [A-Z_]+' | tr -d ' ' |
  sort -u)
[ "$(wc -l <<<"$options")" -ge 20 ] || fail "too few options read from --help: $options"
[ "$(wc -l <<<"$variables")" -ge 4 ] || fail "too few variables read from --help: $variables"

# The manual page's source with roff's escaped dashes as plain ones.
page=$(sed 's/\\-/-/g' "$manpage")
environment=$(sed -n '/^\.SH ENVIRONMENT/,/^\.SH /p' <<<"$page")
for option in $options; do
  grep -qE "(^|[^a-zA-Z-])$option([^a-zA-Z-]|$)" <<<"$page" ||
    fail "the manual page does not name $option"
done
for variable in $variables; do
  grep -qx "\.B $variable" <<<"$environment" ||
    fail "the manual page's ENVIRONMENT does not describe $variable"
done

# What the completion offers for "brimwell -" and "brimwell --", as bash would ask it.
offered=$(bash -c '
  source "$1"
  for cur in - --; do
    COMP_WORDS=(brimwell "$cur") COMP_CWORD=1 COMPREPLY=()
    _brimwell
    printf "%s\n" "${COMPREPLY[@]}"
  done' _ "$completion" | sort -u)
for option in $options; do
  grep -qx -- "$option" <<<"$offered" || fail "the completion does not offer $option"
done
# ... and nothing the program does not know.
for option in $offered; do
  grep -qx -- "$option" <<<"$options" || fail "the completion offers $option, which --help lacks"
done

if [ $failures -ne 0 ]; then
  exit 1
fi
echo "help, manual page and completion agree on $(wc -l <<<"$options") options and" \
  "$(wc -l <<<"$variables") variables"
