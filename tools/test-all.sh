#!/usr/bin/env bash
# Build and run every test of the project on a Debian 12 machine.
# Installs what is missing (apt-get), then runs three passes:
#   asan  - clang, AddressSanitizer + UndefinedBehaviorSanitizer, bounded fuzz runs
#   tsan  - ThreadSanitizer over the concurrency tests
#   main  - the plain build, the whole suite including the kernel VM tests and the
#           project built for big-endian MIPS: the daemon's tests and the
#           end-to-end checks against veloxd and ubusd under qemu-mips
# Each build shows a progress line (its whole output is in build/NAME.build.log,
# the tail shown when it fails), each pass ends with a line giving its times.
# The output ends with each pass's ctest summary, ctest's own line of the main
# pass last; the exit status is non-zero when any pass failed.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=progress.sh
. "$top/tools/progress.sh"
build=${VELOXD_BUILD_ROOT:-$top/build}
jobs=${JOBS:-$(nproc)}

"$top/tools/install-deps.sh" || { echo "installing dependencies failed"; exit 1; }
# The browser tests' packages (puppeteer-core, no browser); they skip without them.
web=$top/tests/web
if [ ! -d "$web/node_modules/puppeteer-core" ] || [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
	echo "installing puppeteer-core into tests/web (npm ci) ..."
	(cd "$web" && npm ci --no-audit --no-fund >/dev/null) || echo "npm ci in tests/web failed: the browser tests will skip"
fi

# The tests' scratch files go to a directory of this run (and, as root, /tmp
# is the run's own); anything left there at the end fails the run.
. "$top/tools/test-tmp.sh"

status=0
mins() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# [pass_targets=TARGETS] pass NAME CTEST_ARGS CMAKE_ARGS...: builds TARGETS (all
# by default), runs the tests
pass() {
	local name=$1; shift
	local ctest_args=$1; shift
	local dir=$build/$name start=$SECONDS built
	summary=""
	echo "=== pass $name ==="
	if ! cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1; then
		cat "$dir.configure.log"; echo "configure ($name) failed"; status=1
		summaries="$summaries$name: configure failed
"; return
	fi
	# shellcheck disable=SC2086
	if ! vx_progress "$dir.build.log" "build $name" cmake --build "$dir" -j "$jobs" ${pass_targets:+--target $pass_targets}; then
		tail -n 80 "$dir.build.log"; echo "build ($name) failed (log: $dir.build.log)"; status=1
		summaries="$summaries$name: build failed
"; return
	fi
	built=$SECONDS
	# shellcheck disable=SC2086
	(cd "$dir" && ctest --output-on-failure -j "$jobs" $ctest_args) 2>&1 | tee "$dir.ctest.log"
	[ "${PIPESTATUS[0]}" = 0 ] || status=1
	echo "=== pass $name: $(mins $((SECONDS - start))) (build $(mins $((built - start))), tests $(mins $((SECONDS - built)))) ==="
	summary=$(grep -E '^[0-9]+% tests passed' "$dir.ctest.log" | tail -n 1)
	summaries="$summaries$name: ${summary:-no ctest summary}
"
}

mkdir -p "$build"
summaries=""
pass asan "-LE vm|cross|syslibs" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVELOXD_SANITIZE=address,undefined
# Only what the ThreadSanitizer tests run (tests/CMakeLists.txt).
pass_targets=tsan_tests pass tsan "-L tsan" -DVELOXD_SANITIZE=thread -DVELOXD_FUZZ=OFF
pass main "" -DVELOXD_FUZZ=OFF
echo "=== summary ==="
printf '%s' "$summaries"
# ctest's own summary line of the main pass comes last.
echo "${summary:-no ctest summary}"
exit $status
