/* Test fixture: the mid-2014 JSON bridge; json-c by its new name only when told so. */
#ifndef FIXTURE_LIBUBOX_BLOBMSG_JSON_H
#define FIXTURE_LIBUBOX_BLOBMSG_JSON_H

#ifdef JSONC
#include <json.h>
#else
#include <json/json.h>
#endif
#include <stdbool.h>
#include "blobmsg.h"

bool blobmsg_add_object(struct blob_buf *b, json_object *obj);
bool blobmsg_add_json_element(struct blob_buf *b, const char *name, json_object *obj);
bool blobmsg_add_json_from_string(struct blob_buf *b, const char *str);
bool blobmsg_add_json_from_file(struct blob_buf *b, const char *file);

#endif
