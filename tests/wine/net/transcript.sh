# SPDX-License-Identifier: LGPL-2.1-or-later
# One step of a command transcript, for the tests that run the same
# sequence of commands natively and under Wine and compare the two
# transcripts (sourced):
#   transcript_step NAME ARG...   runs "$program" ARG... (scratch files in
#                                 $work) and prints the command as NAME ARG...,
#                                 its standard output, its standard error and
#                                 its exit status, without carriage returns
transcript_step() {
  transcript_name=$1
  shift
  printf '$ %s' "$transcript_name"
  for a in "$@"; do printf " '%s'" "$a"; done
  printf '\n'
  set +e
  "$program" "$@" >"$work/out" 2>"$work/err"
  status=$?
  set -e
  tr -d '\r' <"$work/out"
  printf -- '- stderr:\n'
  tr -d '\r' <"$work/err"
  printf -- '- exit %s\n' "$status"
}
