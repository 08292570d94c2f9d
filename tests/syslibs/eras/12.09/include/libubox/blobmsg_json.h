/* Test fixture: the early-2013 JSON bridge; it pulls json-c 0.9 in by its old path. */
#ifndef FIXTURE_LIBUBOX_BLOBMSG_JSON_H
#define FIXTURE_LIBUBOX_BLOBMSG_JSON_H

#include <json/json.h>
#include <stdbool.h>
#include "blobmsg.h"

bool blobmsg_add_object(struct blob_buf *b, json_object *obj);
bool blobmsg_add_json_element(struct blob_buf *b, const char *name, json_object *obj);
bool blobmsg_add_json_from_string(struct blob_buf *b, const char *str);
bool blobmsg_add_json_from_file(struct blob_buf *b, const char *file);

#endif
