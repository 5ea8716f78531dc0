#!/usr/bin/env bash
# Every window test removes what it made: the whole window test program runs with a
# /tmp of its own (a private mount), which must be empty once it has ended.
#
#   leaves_nothing_behind.sh WINDOW_TESTS
set -euo pipefail
tests=$(realpath "$1")
# A checkout under /tmp itself (a fresh clone in a temporary folder) is kept in view:
# its top folder there is bound back into the private /tmp and is no leftover.
keep=""
if [[ $tests == /tmp/?* ]]; then
  keep=${tests#/tmp/}
  keep=${keep%%/*}
  [[ -d /mnt ]] || { echo "skipped: no /mnt to keep /tmp/$keep in view"; exit 77; }
fi

if [[ $(id -u) -eq 0 ]] && unshare --mount --propagation private true 2>/dev/null; then
  private=(unshare --mount --propagation private)
elif unshare --map-root-user --mount --propagation private true 2>/dev/null; then
  private=(unshare --map-root-user --mount --propagation private)
else
  echo "skipped: no private mount namespace here (unshare)"
  exit 77
fi

"${private[@]}" bash -c '
  set -euo pipefail
  keep=$2
  if [[ -n $keep ]]; then
    mount --bind "/tmp/$keep" /mnt
  fi
  mount -t tmpfs kestrel-private-tmp /tmp
  if [[ -n $keep ]]; then
    mkdir "/tmp/$keep"
    mount --bind /mnt "/tmp/$keep"
  fi
  unset XDG_RUNTIME_DIR TMPDIR
  status=0
  QT_QPA_PLATFORM=offscreen "$1" --gtest_brief=1 || status=$?
  left=$(ls -A /tmp | grep -vxF -- "${keep:-/}" || true)
  if [[ -n $left ]]; then
    echo "FAIL: the window tests left this in /tmp:"
    echo "$left"
    exit 1
  fi
  [[ $status -eq 0 ]] || { echo "FAIL: the window tests themselves failed ($status)"; exit 1; }
  echo "PASS: the window tests left /tmp as they found it"
' leaves_nothing_behind "$tests" "$keep"
