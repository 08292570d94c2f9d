#pragma once

#include <libubox/blob.h>

#ifdef __cplusplus
extern "C" {
#endif

int c_build_dump_e(struct blob_buf *b);
int c_count_children(struct blob_attr *attr);
int c_flag_values(void);

#ifdef __cplusplus
}
#endif
