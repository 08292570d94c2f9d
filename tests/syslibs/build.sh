#!/usr/bin/env bash
# daemon/ (and collectd/) built on its own as an OpenWrt SDK builds it:
# against a staging directory that holds only platform headers and
# libraries, with every C and C++ compiler named. Proves the daemon needs nothing of host/ but those, and
# nothing of the C++ runtime.
#   build.sh --src DIR --out DIR --cmake CMAKE --headers DIR,DIR --libs LIB,LIB
#            [--stubs "ubox:ubox ... json:json-c"] [--compilers "gcc:g++ clang:clang++"]
#            [--expect TEXT] [--cxx-rejects HEADER,HEADER]
# --headers are copied in order, later ones over earlier ones (an era's
# changes over the one before). --stubs builds link stand-ins of an older
# generation's libraries, SECTION:NAME each, instead of --libs. --expect is matched against the platform summary of the
# configure step. --cxx-rejects names headers that must not compile as C++:
# the reason the code including them is C.
set -u
compilers="gcc:g++ clang:clang++"
stubs=""
libs=""
expect=""
rejects=""
while [ $# -gt 0 ]; do
	case $1 in
	--src) src=$2;; --out) out=$2;; --cmake) cmake=$2;; --headers) headers=$2;; --libs) libs=$2;;
	--stubs) stubs=$2;; --compilers) compilers=$2;; --expect) expect=$2;; --cxx-rejects) rejects=$2;;
	*) echo "unknown option $1"; exit 2;;
	esac
	shift 2
done

rm -rf "$out"
stage=$out/staging/usr
mkdir -p "$stage/include" "$stage/lib"
for d in ${headers//,/ }; do
	cp -r "$d"/. "$stage/include/"
done
for l in ${libs//,/ }; do
	cp "$l" "$stage/lib/"
done
for s in $stubs; do
	def=$(echo "${s%%:*}" | tr 'a-z' 'A-Z')
	cc -shared -fPIC -DSTUB_$def -o "$stage/lib/lib${s#*:}.so" "$(dirname "$0")/eras/platform_stub.c" || exit 1
done

status=0
fail() { echo "FAIL: $*"; status=1; }

for h in ${rejects//,/ }; do
	printf '#include <%s>\nint main() { return 0; }\n' "$h" >"$out/reject.cpp"
	if g++ -std=gnu++0x -fsyntax-only -I "$stage/include" "$out/reject.cpp" >"$out/reject.log" 2>&1; then
		fail "<$h> compiles as C++; the fixture lost the hazard it stands for"
	fi
done

for pair in $compilers; do
	c=${pair%%:*}
	cxx=${pair#*:}
	b=$out/$c
	if ! command -v "$c" >/dev/null || ! command -v "$cxx" >/dev/null; then
		fail "$c/$cxx not installed"
		continue
	fi
	if ! "$cmake" -S "$src/daemon" -B "$b" -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_C_COMPILER="$c" \
		-DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DVELOXD_WERROR=ON >"$b.configure.log" 2>&1; then
		cat "$b.configure.log"
		fail "configure with $c"
		continue
	fi
	summary=$(grep -o 'veloxd platform: .*' "$b.configure.log")
	echo "$c: $summary"
	case "$summary" in
	*"$expect"*) ;;
	*) fail "$c: the probes found '$summary', expected '$expect'";;
	esac
	if ! "$cmake" --build "$b" -j 2 >"$b.build.log" 2>&1; then
		tail -n 40 "$b.build.log"
		fail "build with $c"
		continue
	fi
	if grep -q "$src/host/" "$b/compile_commands.json"; then
		fail "$c: something compiled against host/ directly"
	fi
	for f in std=gnu++0x nostdinc++ fno-exceptions fno-rtti Wall Wextra Wshadow Werror; do
		grep -q -- "-$f .*rpc_methods.cpp" "$b/compile_commands.json" || fail "$c: -$f missing"
	done
	for p in veloxd veloxtop/veloxtop; do
		needed=$(readelf -d "$b/$p" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
		echo "$c: $p needs: $needed"
		case " $needed" in
		*" libstdc++"* | *" libatomic"*) fail "$c: $p needs the C++ runtime or libatomic";;
		esac
		case " $needed" in
		*" libubox.so "*) ;;
		*) fail "$c: $p does not link libubox";;
		esac
		case " $needed" in
		*" libjson"*) [ "$p" = veloxd ] || fail "$c: $p links json-c, which it does not use";;
		*) [ "$p" != veloxd ] || fail "$c: $p does not link json-c";;
		esac
	done
	# The collectd source, a project of its own against the same staging
	# directory, as its package builds it: the bus libraries and nothing more.
	cb=$out/$c-collectd
	if ! "$cmake" -S "$src/collectd" -B "$cb" -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_C_COMPILER="$c" \
		-DCMAKE_CXX_COMPILER="$cxx" >"$cb.configure.log" 2>&1 ||
		! "$cmake" --build "$cb" -j 2 >"$cb.build.log" 2>&1; then
		tail -n 40 "$cb.configure.log" "$cb.build.log" 2>/dev/null
		fail "collectd/ with $c"
		continue
	fi
	needed=$(readelf -d "$cb/veloxd-collectd" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
	echo "$c: veloxd-collectd needs: $needed"
	for l in libubus libubox; do
		case " $needed" in
		*" $l.so "*) ;;
		*) fail "$c: veloxd-collectd does not link $l";;
		esac
	done
	case " $needed" in
	*" libstdc++"* | *" libatomic"* | *" libjson"* | *" libuci"* | *" libblobmsg_json"*)
		fail "$c: veloxd-collectd links more than the bus libraries";;
	esac
done
[ $status -eq 0 ] && echo "ok: daemon/ and collectd/ build against the staging directory with: $compilers"
exit $status
