#!/usr/bin/env bash
# Builds Kestrel three times and runs every test: a plain build, an ASan+UBSan build
# and a ThreadSanitizer build, then the fuzzers of the image code for a fixed time.
# The window's tests run offscreen in all three builds; the plain build also starts
# the real window in a virtual X display (Xvfb), presses Alt+U and has the virtual
# board flashed through it. A Windows stage follows the plain build: kestrel-cli.exe
# and the Windows tests, cross-built with mingw-w64, run under Wine against the
# virtual board and ptys mapped to COM ports (tools/windows-stage.sh). Ends with
# CTest's summary over all three Linux builds.
#
#   tools/run-tests.sh [FUZZ_SECONDS]     (default 60 per fuzz target)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
fuzz_seconds=${1:-60}

tools/setup-deps.sh

configure() {  # folder, extra cmake arguments
  cmake -S . -B "build/$1" -G Ninja "${@:2}" >/dev/null
  cmake --build "build/$1" -j2
}
configure plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
windows=0
tools/windows-stage.sh || windows=1
configure asan -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=asan
configure tsan -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=tsan

tools/run-fuzz.sh build/fuzz "$fuzz_seconds"

# The serial and end-to-end tests once more as an ordinary user: operators are not root.
as_operator=0
tools/run-as-operator.sh build/plain/bin/serial_tests build/plain/bin/e2e_tests || as_operator=1
# The Debian package, unpacked and run as an ordinary user.
tools/test-package.sh

# One CTest run over the three builds, so the closing summary counts every test.
mkdir -p build/all
cat > build/all/CTestTestfile.cmake <<CTEST
subdirs("$root/build/plain" "$root/build/asan" "$root/build/tsan")
CTEST
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
status=0
ctest --test-dir build/all --output-on-failure -j2 --timeout 600 || status=$?
[[ $as_operator -eq 0 ]] || { echo "The serial or end-to-end tests failed as an ordinary user (see above)."; exit 1; }
[[ $windows -eq 0 ]] || { echo "The Windows stage failed (see its summary above)."; exit 1; }
exit $status
