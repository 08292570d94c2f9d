#include <stdio.h>
int main(void)
{
	fputs("uci: command-line tool not built yet\n", stderr);
	return 1;
}
