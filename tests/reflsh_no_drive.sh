#!/bin/sh
# The real program on a machine without a drive: banner, message 28 in the console's language,
# exit code 1. Usage: reflsh_no_drive.sh REFLSH [TEXT-OF-MESSAGE-28]
reflsh=$1
expect=${2:-Available target is not found.}
out=$("$reflsh" </dev/null)
rc=$?
printf '%s\n' "$out"
printf '%s' "$out" | grep -q '/// ODD Firmware Update Utility Ver2.57C' || exit 1
printf '%s' "$out" | grep -q "$expect" || exit 1
test "$rc" -eq 1
