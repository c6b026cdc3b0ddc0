#!/usr/bin/env bash
# The bash completion of korvanectl as bash runs it: the script registers its function, and
# typed words give the candidates the program's table names.
#   completion-test.sh SCRIPT KORVANECTL SAMPLE_CONFIG
set -euo pipefail
script=$1
bin=$(dirname "$2")
export PATH="$bin:$PATH" MAILCONFIGDIR=$3
# shellcheck disable=SC1090
source "$script"
complete -p korvanectl | grep -q -- '-F _korvanectl' || { echo "not registered"; exit 1; }

fail=0
expect() { # expected-candidate words...
  local want=$1
  shift
  COMP_WORDS=(korvanectl "$@")
  COMP_CWORD=$#
  COMP_LINE="korvanectl $*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _korvanectl
  if ! printf '%s\n' "${COMPREPLY[@]}" | grep -qx -- "$want"; then
    echo "korvanectl $* <TAB>: expected \"$want\", got: ${COMPREPLY[*]:-nothing}"
    fail=1
  fi
}
expect domain dom
expect change alias ch
expect --password-file account add x@example.test --pass
expect example.test domain remove ex
expect smtpd.cfg get smt
expect json check --format ""
expect aliases import al
[ $fail -eq 0 ] && echo "completion ok"
exit $fail
