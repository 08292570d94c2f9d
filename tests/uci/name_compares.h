/* strcmp calls counted while name_compares_on is set (name_compares.c). */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

extern unsigned long name_compares;
extern int name_compares_on;

#ifdef __cplusplus
}
#endif
