/*
 * qemu_mips_run PROGRAM ARGS...: runs a big-endian MIPS program on this host
 * under qemu-mips with the cross sysroot (VELOXD_MIPS_SYSROOT, by default
 * /usr/mips-linux-gnu). A preload meant for the program (LD_PRELOAD) goes to
 * the emulated process only; linked statically, so the host's loader never
 * sees it either and does not complain about a library of another machine.
 * VELOXD_TEST_EMULATED tells the tests what runs them.
 */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char **argv)
{
	const char *sysroot = getenv("VELOXD_MIPS_SYSROOT");
	const char *pre = getenv("LD_PRELOAD");
	char *args[argc + 8];
	char *pre_env = NULL;
	int n = 0;

	if (argc < 2) {
		fprintf(stderr, "usage: %s PROGRAM [ARGS...]\n", argv[0]);
		return 2;
	}
	if (!sysroot || !*sysroot)
		sysroot = "/usr/mips-linux-gnu";
	args[n++] = "qemu-mips";
	args[n++] = "-L";
	args[n++] = (char *)sysroot;
	args[n++] = "-E";
	args[n++] = "VELOXD_TEST_EMULATED=qemu-mips";
	if (pre && *pre) {
		if (asprintf(&pre_env, "LD_PRELOAD=%s", pre) < 0) {
			perror("asprintf");
			return 127;
		}
		args[n++] = "-E";
		args[n++] = pre_env;
	}
	unsetenv("LD_PRELOAD");
	for (int i = 1; i < argc; i++)
		args[n++] = argv[i];
	args[n] = NULL;
	execvp(args[0], args);
	perror("qemu-mips");
	return 127;
}
