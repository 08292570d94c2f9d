#!/usr/bin/env bash
# veloxd and veloxtop built as on an OpenWrt SDK: VELOXD_SYSTEM_LIBS=ON against
# a staging directory that holds only the platform libraries and their public
# headers (ours here). Proves the daemon uses nothing of host/ but those.
#   build.sh SOURCE_DIR WORK_DIR CMAKE HEADER_DIRS LIBS
set -u
src=$1
out=$2
cmake=$3
headers=$4
libs=$5

rm -rf "$out"
stage=$out/staging/usr
mkdir -p "$stage/include" "$stage/lib"
for d in ${headers//;/ }; do
	cp -r "$d"/. "$stage/include/"
done
for l in ${libs//;/ }; do
	cp "$l" "$stage/lib/"
done

if ! "$cmake" -S "$src" -B "$out/build" -DVELOXD_SYSTEM_LIBS=ON -DCMAKE_PREFIX_PATH="$stage" \
	-DBUILD_TESTING=OFF -DVELOXD_FUZZ=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$out/configure.log" 2>&1; then
	cat "$out/configure.log"
	echo "FAIL: configure with VELOXD_SYSTEM_LIBS=ON"
	exit 1
fi
if ! "$cmake" --build "$out/build" -j 2 --target veloxd veloxtop >"$out/build.log" 2>&1; then
	tail -n 40 "$out/build.log"
	echo "FAIL: build with VELOXD_SYSTEM_LIBS=ON"
	exit 1
fi

status=0
if grep -q "$src/host/" "$out/build/compile_commands.json"; then
	echo "FAIL: something compiled against host/ directly:"
	grep -o "\-I$src/host/[^ ]*" "$out/build/compile_commands.json" | sort -u
	status=1
fi
for b in daemon/veloxd tools/veloxtop/veloxtop; do
	needed=$(readelf -d "$out/build/$b" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
	echo "$b needs: $needed"
	case " $needed" in
	*" libstdc++"*) echo "FAIL: $b needs the C++ runtime"; status=1;;
	esac
	for l in libubox.so libubus.so; do
		case " $needed" in
		*" $l "*) ;;
		*) echo "FAIL: $b does not link $l"; status=1;;
		esac
	done
done
[ $status -eq 0 ] && echo "ok: veloxd and veloxtop build against the staged platform libraries"
exit $status
