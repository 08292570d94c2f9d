/*
 * ubusd.h - the bus broker: clients, objects, types and message handling
 */
#ifndef __UBUSD_H
#define __UBUSD_H

#include <libubox/avl.h>
#include <libubox/list.h>
#include <libubox/uloop.h>
#include "ubusmsg.h"
#include "ubus_proto.h"

/* pending output per client; messages beyond it are dropped */
#define UBUSD_TXQ_LIMIT	UBUS_MAX_MSGLEN

struct ubusd_client {
	struct uloop_fd sock;
	struct avl_node avl;
	uint32_t id;

	char *user;
	char *group;

	struct list_head objects;
	struct ubus_rx rx;
	/* output not yet written: tx[txoff..txlen) */
	uint8_t *tx;
	size_t txoff, txlen, txcap;
	bool tx_blocked;
	struct list_head flush_list;
	/* traffic since the last sweep of grown buffers */
	bool busy;

	/* not read while the queue of the owner it called is long (flow.c) */
	struct ubusd_client *held_by;
	struct list_head hold_list;
	/* callers this client's queue holds */
	struct list_head held;
	/* ms on the monotonic clock: pending output last moved, or got stuck */
	int64_t tx_moved;

	bool dead;
	struct list_head dead_list;
};

struct ubusd_type {
	struct avl_node avl;
	uint32_t id;
	int refcount;

	/* the methods as sent: a run of named blobmsg tables */
	size_t siglen;
	uint8_t *sig;
};

struct ubusd_object {
	struct avl_node id_avl;
	struct avl_node path_avl;
	uint32_t id;
	char *path;

	struct ubusd_type *type;
	struct ubusd_client *client;
	struct list_head list;
};

extern struct avl_tree ubusd_clients;
extern struct avl_tree ubusd_objects;
extern struct avl_tree ubusd_paths;
extern struct avl_tree ubusd_types;

void ubusd_state_init(void);
bool ubusd_alloc_id(struct avl_tree *tree, uint32_t *id);

/* clients */
struct ubusd_client *ubusd_client_new(int fd, bool watch);
void ubusd_client_free(struct ubusd_client *cl);
void ubusd_client_kill(struct ubusd_client *cl);
void ubusd_reap(void);
/* input as if read from the socket; false once the client is dead */
bool ubusd_client_feed(struct ubusd_client *cl, const void *data, size_t len);
void ubusd_free_all(void);
/* input left over when a hold ended: on with it */
void ubusd_client_resume(struct ubusd_client *cl);

/* writes what the last input pass queued for every client */
void ubusd_flush(void);
/*
 * A message built in place: room for its root in the client's queue (NULL
 * if it is dropped), then committed once written.
 */
uint8_t *ubusd_send_reserve(struct ubusd_client *cl, uint8_t version, uint8_t type,
			   uint16_t seq, uint32_t peer, size_t rootlen);
void ubusd_send_commit(struct ubusd_client *cl, size_t rootlen);
void ubusd_send_msg(struct ubusd_client *cl, uint8_t version, uint8_t type,
		    uint16_t seq, uint32_t peer, const void *root, size_t rootlen);
void ubusd_send_status(struct ubusd_client *cl, const struct ubus_msghdr *req, int status);

/* flow: after a call was queued for owner, hold the caller if that queue is long */
void ubusd_flow_called(struct ubusd_client *caller, struct ubusd_client *owner);
/* output of the client moved or got stuck: let its callers go once short */
void ubusd_flow_sent(struct ubusd_client *owner);
/* every caller it holds goes on, e.g. the owner is gone */
void ubusd_flow_release(struct ubusd_client *owner);
/* periodic: an owner stuck too long holds nobody; true while it holds some */
bool ubusd_flow_sweep(struct ubusd_client *owner);
/* the client is about to be freed */
void ubusd_flow_forget(struct ubusd_client *cl);
/* goes on with callers let go since; true if there were any */
bool ubusd_flow_resume(void);

/* objects and types */
struct ubusd_type *ubusd_type_new(const struct blob_attr *sig);
struct ubusd_type *ubusd_type_find(uint32_t id);
void ubusd_type_unref(struct ubusd_type *type);
struct ubusd_object *ubusd_object_new(struct ubusd_client *cl, const char *path,
				      struct ubusd_type *type);
struct ubusd_object *ubusd_object_find(uint32_t id);
void ubusd_object_free(struct ubusd_object *obj);

/* one validated message; hdr fields in host order */
void ubusd_dispatch(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
		    struct blob_attr *root);

#endif
