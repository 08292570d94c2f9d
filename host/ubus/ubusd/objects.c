/*
 * objects.c - registry of objects and object types, random ids
 */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <libubox/avl-cmp.h>
#include <libubox/blobmsg.h>

#include "ubusd.h"

struct avl_tree ubusd_clients;
struct avl_tree ubusd_objects;
struct avl_tree ubusd_paths;
struct avl_tree ubusd_types;

static int cmp_id(const void *k1, const void *k2, void *ptr)
{
	const uint32_t *id1 = k1, *id2 = k2;

	if (*id1 < *id2)
		return -1;
	return *id1 > *id2;
}

void ubusd_state_init(void)
{
	avl_init(&ubusd_clients, cmp_id, false, NULL);
	avl_init(&ubusd_objects, cmp_id, false, NULL);
	avl_init(&ubusd_paths, avl_strcmp, false, NULL);
	avl_init(&ubusd_types, cmp_id, false, NULL);
}

static uint32_t random_u32(void)
{
	static uint32_t pool[64];
	static unsigned int left;
	static int fd = -1;

	if (!left) {
		if (fd < 0)
			fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
		if (fd < 0 || read(fd, pool, sizeof(pool)) != (ssize_t) sizeof(pool)) {
			/* no entropy device: still unique, just predictable */
			for (unsigned int i = 0; i < 64; i++)
				pool[i] = (uint32_t) random();
		}
		left = 64;
	}
	return pool[--left];
}

/* Ids below the system object range and ids in use are never handed out. */
bool ubusd_alloc_id(struct avl_tree *tree, uint32_t *id)
{
	for (int tries = 0; tries < 1000; tries++) {
		uint32_t v = random_u32();

		if (v < UBUS_SYSTEM_OBJECT_MAX || avl_find(tree, &v))
			continue;
		*id = v;
		return true;
	}
	return false;
}

/* Accepts a run of named, well-formed blobmsg entries, one per method. */
static bool signature_ok(const uint8_t *p, size_t rem)
{
	if (!ubus_blobmsg_list_valid(p, rem, 0))
		return false;
	while (rem >= sizeof(struct blob_attr)) {
		const struct blob_attr *m = (const struct blob_attr *) p;
		size_t pad = blob_pad_len(m);

		if (!blob_is_extended(m) || blob_len(m) < 2 || !((p[4] << 8) | p[5]))
			return false;
		if (pad >= rem)
			break;
		p += pad;
		rem -= pad;
	}
	return true;
}

/* Bytes the methods take once each is padded to 4. */
static size_t signature_len(const uint8_t *p, size_t rem)
{
	size_t len = 0;

	while (rem >= sizeof(struct blob_attr)) {
		size_t pad = blob_pad_len((const struct blob_attr *) p);

		len += pad;
		if (pad >= rem)
			break;
		p += pad;
		rem -= pad;
	}
	return len;
}

struct ubusd_type *ubusd_type_new(const struct blob_attr *sig)
{
	const uint8_t *p = blob_data(sig);
	size_t rem = blob_len(sig);
	size_t len, off = 0;
	struct ubusd_type *type;

	if (!signature_ok(p, rem))
		return NULL;
	/* stored padded, so the signature reads back as a clean run */
	len = signature_len(p, rem);
	type = calloc(1, sizeof(*type));
	if (!type)
		return NULL;
	type->sig = calloc(1, len ? len : 1);
	if (!type->sig || !ubusd_alloc_id(&ubusd_types, &type->id)) {
		free(type->sig);
		free(type);
		return NULL;
	}
	while (off < len) {
		const struct blob_attr *m = (const struct blob_attr *) (p + off);

		memcpy(type->sig + off, m, blob_raw_len(m));
		off += blob_pad_len(m);
	}
	type->siglen = len;
	type->avl.key = &type->id;
	avl_insert(&ubusd_types, &type->avl);
	return type;
}

struct ubusd_type *ubusd_type_find(uint32_t id)
{
	struct ubusd_type *type;

	return avl_find_element(&ubusd_types, &id, type, avl);
}

void ubusd_type_unref(struct ubusd_type *type)
{
	if (!type || --type->refcount > 0)
		return;
	avl_delete(&ubusd_types, &type->avl);
	free(type->sig);
	free(type);
}

struct ubusd_object *ubusd_object_new(struct ubusd_client *cl, const char *path,
				      struct ubusd_type *type)
{
	struct ubusd_object *obj = calloc(1, sizeof(*obj));

	if (!obj)
		return NULL;
	if (path && !(obj->path = strdup(path))) {
		free(obj);
		return NULL;
	}
	if (!ubusd_alloc_id(&ubusd_objects, &obj->id)) {
		free(obj->path);
		free(obj);
		return NULL;
	}
	obj->id_avl.key = &obj->id;
	avl_insert(&ubusd_objects, &obj->id_avl);
	if (obj->path) {
		obj->path_avl.key = obj->path;
		avl_insert(&ubusd_paths, &obj->path_avl);
	}
	obj->type = type;
	if (type)
		type->refcount++;
	obj->client = cl;
	list_add_tail(&obj->list, &cl->objects);
	return obj;
}

/* a call and the owner's replies to it name the same object */
static struct ubusd_object *last_found;

struct ubusd_object *ubusd_object_find(uint32_t id)
{
	struct ubusd_object *obj = last_found;

	if (obj && obj->id == id)
		return obj;
	obj = avl_find_element(&ubusd_objects, &id, obj, id_avl);
	if (obj)
		last_found = obj;
	return obj;
}

void ubusd_object_free(struct ubusd_object *obj)
{
	if (last_found == obj)
		last_found = NULL;
	avl_delete(&ubusd_objects, &obj->id_avl);
	if (obj->path)
		avl_delete(&ubusd_paths, &obj->path_avl);
	list_del(&obj->list);
	ubusd_type_unref(obj->type);
	free(obj->path);
	free(obj);
}
