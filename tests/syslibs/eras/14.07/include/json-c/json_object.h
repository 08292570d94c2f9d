/* Test fixture: json-c 0.11's object header: 32-bit integers, put reports whether it freed. */
#ifndef FIXTURE_JSON_OBJECT_H
#define FIXTURE_JSON_OBJECT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define JSON_OBJECT_DEF_HASH_ENTRIES 16

#undef FALSE
#define FALSE ((boolean)0)
#undef TRUE
#define TRUE ((boolean)1)

typedef int boolean;
typedef struct json_object json_object;

enum json_type {
	json_type_null,
	json_type_boolean,
	json_type_double,
	json_type_int,
	json_type_object,
	json_type_array,
	json_type_string
};

extern struct json_object* json_object_get(struct json_object *obj);
extern int json_object_put(struct json_object *obj);
extern struct json_object* json_object_new_array(void);
extern int json_object_array_add(struct json_object *obj, struct json_object *val);
extern int json_object_array_length(struct json_object *obj);
extern struct json_object* json_object_new_int(int32_t i);
extern struct json_object* json_object_new_int64(int64_t i);
extern struct json_object* json_object_new_boolean(boolean b);
extern const char* json_object_to_json_string(struct json_object *obj);

#ifdef __cplusplus
}
#endif

#endif
