/* libFuzzer target: the line scanner must agree with sscanf on any line. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "dev_line_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	char line[1024];

	if (size >= sizeof(line))
		size = sizeof(line) - 1;
	memcpy(line, data, size);
	line[size] = '\0';
	if (dev_line_mismatch(line))
		abort();
	return 0;
}
