#!/usr/bin/env bash
# The package build's CMake files use only commands and forms that CMake
# 2.8.9 (the host CMake of 12.09) knows; no CMake that old runs here, so
# they are read instead.
#   cmake_289.sh FILE...
set -u
known=" cmake_minimum_required project include set unset list string if elseif else endif
 foreach endforeach function endfunction macro endmacro message option return
 add_executable add_library add_subdirectory add_definitions include_directories
 target_link_libraries set_target_properties set_source_files_properties set_property
 get_property get_target_property get_filename_component find_package find_library
 find_path find_program install configure_file check_include_file check_library_exists
 check_symbol_exists check_c_source_compiles check_cxx_source_compiles
 veloxd_language_flags veloxd_runtime_free "
known=$(echo "$known" | tr "\n" " ")
status=0
for f in "$@"; do
	for c in $(sed 's/#.*//' "$f" | grep -oE '^[[:space:]]*[A-Za-z_][A-Za-z0-9_]*[[:space:]]*\(' | tr -d ' \t(' | tr 'A-Z' 'a-z' | sort -u); do
		case "$known" in
		*" $c "*) ;;
		*) echo "FAIL: $f: $c() is newer than CMake 2.8.9 or not checked here"; status=1;;
		esac
	done
	# Generator expressions, IN_LIST (3.3), INTERFACE libraries (3.0), IMPORTED_TARGET (3.6).
	if sed 's/#.*//' "$f" | grep -nE '\$<|IN_LIST|INTERFACE\)|add_library\([^)]*INTERFACE|IMPORTED_TARGET|::' ; then
		echo "FAIL: $f: a form newer than CMake 2.8.9 (lines above)"
		status=1
	fi
done
[ $status -eq 0 ] && echo "ok: $# files use what CMake 2.8.9 knows"
exit $status
