#!/bin/sh
# Every relative link of the README and the docs pages leads to a file that
# exists, and an anchor to a heading of that file.
top=$(cd "$(dirname "$0")/../.." && pwd)
fail=0
n=0
for page in "$top/README.md" "$top"/docs/*.md; do
	dir=$(dirname "$page")
	for link in $(grep -o '](\([^)]*\))' "$page" | sed 's/^](\(.*\))$/\1/' | grep -v '^[a-z]*://'); do
		n=$((n + 1))
		file=${link%%#*}
		target=$dir/$file
		[ -n "$file" ] || target=$page
		if [ ! -f "$target" ]; then
			echo "not ok - ${page#"$top"/}: $link: no such file"
			fail=1
			continue
		fi
		case "$link" in
		*#*)
			# A heading's anchor: lower case, blanks to dashes, other punctuation dropped.
			if ! grep '^#' "$target" | sed -e 's/^#* *//' | tr 'A-Z ' 'a-z-' | tr -cd 'a-z0-9_\n-' |
				grep -qx -- "${link#*#}"; then
				echo "not ok - ${page#"$top"/}: $link: no such heading"
				fail=1
			fi
			;;
		esac
	done
done
echo "$n links checked"
exit $fail
