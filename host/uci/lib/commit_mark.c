/* The mark a commit leaves in the save file: which changes are already
 * in the config file it names. */
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store.h"

/* A commit that got as far as renaming the new file into place but not as
 * far as emptying the save file leaves this line at the save file's end: the
 * changes above it are already in the config file it names. */
#define COMMIT_MARK "#uci-committed "

static int format_mark(char *buf, size_t sz, const struct stat *st)
{
	return snprintf(buf, sz, COMMIT_MARK "%llu %llu %lld %lld.%09ld\n", (unsigned long long)st->st_dev,
			(unsigned long long)st->st_ino, (long long)st->st_size, (long long)st->st_mtim.tv_sec,
			(long)st->st_mtim.tv_nsec);
}

/* Offset just past the last complete mark naming the loaded config file,
 * or 0 when the save file's changes are all still pending. */
size_t committed_prefix(const char *buf, size_t len, const struct stat *cfg)
{
	char mark[128];
	int ml;
	if (!cfg || !memchr(buf, '#', len))
		return 0;
	if ((ml = format_mark(mark, sizeof(mark), cfg)) <= 0 || (size_t)ml >= sizeof(mark))
		return 0;
	size_t skip = 0;
	for (size_t off = 0; off + (size_t)ml <= len;) {
		const char *nl = memchr(buf + off, '\n', len - off);
		size_t end = nl ? (size_t)(nl - buf) + 1 : len;
		if (end - off == (size_t)ml && !memcmp(buf + off, mark, (size_t)ml))
			skip = end;
		off = end;
	}
	return skip;
}

/* Appends the mark for the new file to the save file. No fsync: the save
 * directory lives in RAM, and a killed process loses no written data. */
int mark_committed(int savefd, int newfd, off_t *oldlen)
{
	struct stat st, sst;
	char mark[128];
	if (fstat(newfd, &st) < 0 || fstat(savefd, &sst) < 0)
		return UCI_ERR_IO;
	*oldlen = sst.st_size;
	int ml = format_mark(mark, sizeof(mark), &st);
	if (ml <= 0 || (size_t)ml >= sizeof(mark))
		return UCI_ERR_IO;
	if (lseek(savefd, 0, SEEK_END) < 0 || write_all(savefd, mark, (size_t)ml))
		return UCI_ERR_IO;
	return 0;
}
