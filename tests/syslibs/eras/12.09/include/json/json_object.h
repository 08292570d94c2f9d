/* Test fixture: json-c 0.9's object header: TRUE, FALSE and boolean as macros and a typedef. */
#ifndef FIXTURE_JSON_OBJECT_H
#define FIXTURE_JSON_OBJECT_H

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
extern void json_object_put(struct json_object *obj);
extern struct json_object* json_object_new_array(void);
extern int json_object_array_add(struct json_object *obj, struct json_object *val);
extern int json_object_array_length(struct json_object *obj);
extern struct json_object* json_object_new_int(int i);
extern struct json_object* json_object_new_boolean(boolean b);
extern const char* json_object_to_json_string(struct json_object *obj);

#ifdef __cplusplus
}
#endif

#endif
