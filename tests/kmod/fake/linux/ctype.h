/* Fake kernel: character classes as the kernel's table has them (Latin-1). */
#ifndef FAKE_LINUX_CTYPE_H
#define FAKE_LINUX_CTYPE_H

#define __fk_c(c)	((unsigned int)(unsigned char)(c))
#define isdigit(c)	(__fk_c(c) - '0' < 10u)
#define isspace(c)	(__fk_c(c) == ' ' || __fk_c(c) - '\t' < 5u ||	\
			 __fk_c(c) == 0xa0)
#endif
