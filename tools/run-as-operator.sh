#!/usr/bin/env bash
# Runs test programs as an operator runs the tool: as an ordinary user, not root.
# Under root (as in CI) they run as the user kuser (KESTREL_TEST_USER), created when
# missing; otherwise as the current user. Fails when any of them fails.
#
#   tools/run-as-operator.sh TEST_PROGRAM...
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
user=${KESTREL_TEST_USER:-kuser}

run=()
if [[ $(id -u) -eq 0 ]]; then
  id -u "$user" >/dev/null 2>&1 || useradd --create-home --user-group "$user"
  # The user reads the programs, the library folder beside them and the sample files;
  # the folders of the tree that lead there become passable for everyone. Folders
  # above the tree that the user cannot pass get search permission (not listing)
  # while the tests run.
  chmod -R a+rX "$root/res"
  for program in "$@"; do
    dir=$(dirname "$(realpath "$program")")
    chmod -R a+rX "$dir"
    while parent=$(dirname "$dir") && [[ $parent == "$root"/* ]]; do
      dir=$parent
      chmod a+x "$dir"
    done
  done
  granted=()
  dir=""
  IFS=/ read -ra parts <<<"${root#/}"
  for part in "${parts[@]}"; do  # from the top down, so each test sees its parents passable
    dir+="/$part"
    if ! runuser -u "$user" -- test -x "$dir"; then
      chmod o+x "$dir"
      granted+=("$dir")
    fi
  done
  trap '[[ ${#granted[@]} -eq 0 ]] || chmod o-x "${granted[@]}"' EXIT
  run=(runuser -u "$user" --)
else
  user=$(id -un)
fi

status=0
for program in "$@"; do
  program=$(realpath "$program")
  echo "=== $(basename "$program") as $user (uid $(id -u "$user"))"
  (cd /tmp && "${run[@]}" "$program") || status=1
done
exit $status
