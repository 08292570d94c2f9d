/*
 * Exact proc file access for the lumabar VM test, where the shell cannot
 * issue an empty write, a write from a bad buffer or reads of a chosen
 * size.
 *
 *   procw write FILE TEXT      one write of TEXT (no newline added)
 *   procw zero FILE            one write of 0 bytes
 *   procw fill FILE N HEAD     one write of N bytes: HEAD, then 'x'
 *   procw fault FILE           one 4-byte write from an unmapped page
 *   procw read FILE CHUNK      read to end of file in CHUNK-byte reads
 *
 * Writes print "ret=R errno=E"; reads print "text=T reads=N" with the
 * text's newlines shown as \n.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

static int report_write(ssize_t ret)
{
	printf("ret=%zd errno=%d\n", ret, ret < 0 ? errno : 0);
	return 0;
}

static int do_read(int fd, size_t chunk)
{
	static char text[65536];
	char *p = text;
	int reads = 0;

	for (;;) {
		ssize_t n;

		if ((size_t)(p - text) + chunk > sizeof(text))
			return fprintf(stderr, "read: too long\n"), 1;
		n = read(fd, p, chunk);
		reads++;
		if (n < 0)
			return printf("read error errno=%d\n", errno), 1;
		if (n == 0)
			break;
		p += n;
	}
	fputs("text=", stdout);
	for (char *c = text; c < p; c++) {
		if (*c == '\n')
			fputs("\\n", stdout);
		else
			putchar(*c);
	}
	printf(" reads=%d\n", reads);
	return 0;
}

int main(int argc, char **argv)
{
	const char *op, *file;
	int fd;

	if (argc < 3)
		return fprintf(stderr, "usage: procw OP FILE [ARGS]\n"), 2;
	op = argv[1];
	file = argv[2];
	fd = open(file, strcmp(op, "read") ? O_WRONLY : O_RDONLY);
	if (fd < 0)
		return printf("open error errno=%d\n", errno), 1;

	if (!strcmp(op, "write") && argc == 4)
		return report_write(write(fd, argv[3], strlen(argv[3])));
	if (!strcmp(op, "zero"))
		return report_write(write(fd, "", 0));
	if (!strcmp(op, "fill") && argc == 5) {
		size_t n = strtoul(argv[3], NULL, 0);
		size_t head = strlen(argv[4]);
		char *buf = malloc(n + 1);

		if (!buf || head > n)
			return 1;
		memset(buf, 'x', n);
		memcpy(buf, argv[4], head);
		return report_write(write(fd, buf, n));
	}
	if (!strcmp(op, "fault")) {
		void *page = mmap(NULL, 4096, PROT_NONE,
				  MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);

		if (page == MAP_FAILED)
			return 1;
		return report_write(write(fd, page, 4));
	}
	if (!strcmp(op, "read") && argc == 4)
		return do_read(fd, strtoul(argv[3], NULL, 0));
	fprintf(stderr, "procw: bad arguments\n");
	return 2;
}
