#!/usr/bin/env bash
# Every window test removes what it made: the whole window test program runs with a
# /tmp of its own (a private mount), which must be empty once it has ended.
#
#   leaves_nothing_behind.sh WINDOW_TESTS
set -euo pipefail
tests=$(realpath "$1")

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
  mount -t tmpfs kestrel-private-tmp /tmp
  unset XDG_RUNTIME_DIR TMPDIR
  status=0
  QT_QPA_PLATFORM=offscreen "$1" --gtest_brief=1 || status=$?
  left=$(ls -A /tmp)
  if [[ -n $left ]]; then
    echo "FAIL: the window tests left this in /tmp:"
    ls -lA /tmp
    exit 1
  fi
  [[ $status -eq 0 ]] || { echo "FAIL: the window tests themselves failed ($status)"; exit 1; }
  echo "PASS: the window tests left /tmp as they found it"
' leaves_nothing_behind "$tests"
