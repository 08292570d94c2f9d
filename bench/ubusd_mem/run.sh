#!/usr/bin/env bash
# The broker's memory (ubusd_mem), bus round trips (ubus_bench) and the
# broker's own instructions per call (callgrind, load-independent) for the
# ubusd of the work tree and the one of an older revision, both compiled here
# with the same flags against the build's libubox.
#
# Usage: bench/ubusd_mem/run.sh [BUILD_DIR] [BASE_REV] [CALLS]
#        (default build/main, da0cf7c, 20000)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$top/build/main}" && pwd)
rev=${2:-da0cf7c}
calls=${3:-20000}
mem=$(find "$build" -type f -name ubusd_mem -perm -u+x | head -n 1)
rt=$(find "$build" -type f -name ubus_bench -perm -u+x | head -n 1)
[ -n "$mem" ] && [ -n "$rt" ] || { echo "ubusd_mem or ubus_bench not built in $build" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ubusd() { # NAME SOURCE_TREE
	local d=$2/host/ubus
	cc -O2 -g -DNDEBUG -D_GNU_SOURCE -std=gnu11 -I"$d/include" -I"$d/proto" -I"$d/ubusd" \
		-I"$top/host/libubox/include" -o "$tmp/$1" "$d"/ubusd/*.c "$d/proto/ubus_proto.c" \
		-L"$build/lib" -Wl,-rpath,"$build/lib" -lubox
}
ubusd after "$top"
names=after
if mkdir "$tmp/src" && git -C "$top" archive "$rev" host/ubus | tar -x -C "$tmp/src" 2>/dev/null; then
	ubusd before "$tmp/src"
	names="before after"
else
	echo "revision $rev not in this clone: no comparison" >&2
fi

# Instructions of the broker for N calls; two runs, so that start-up and
# warm-up cancel out in the difference.
broker_ir() { # NAME N
	printf '#!/bin/sh\nexec valgrind --tool=callgrind --callgrind-out-file=%s %s "$@" 2>/dev/null\n' \
		"$tmp/cg.$2" "$tmp/$1" >"$tmp/vg-$1"
	chmod +x "$tmp/vg-$1"
	"$rt" -d "$tmp/vg-$1" -n "$2" -c 1 -r 1 >/dev/null
	callgrind_annotate "$tmp/cg.$2" 2>/dev/null | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }'
}

for n in $names; do
	echo "== $n ($([ "$n" = before ] && echo "$rev" || echo "work tree"))"
	"$mem" -d "$tmp/$n"
	"$rt" -d "$tmp/$n" -n "$calls" -c 1 -r 9 -v | sed -n '/^median/,$p'
	if command -v valgrind >/dev/null; then
		a=$(broker_ir "$n" 1000)
		b=$(broker_ir "$n" 3000)
		echo "broker instructions per call (callgrind): $(( (b - a) / 2000 ))"
	fi
done
