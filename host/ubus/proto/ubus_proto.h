/*
 * ubus_proto.h - framing and validation shared by the library and the broker
 */
#ifndef __UBUS_PROTO_H
#define __UBUS_PROTO_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/types.h>
#include <libubox/blob.h>
#include "ubusmsg.h"

/* header plus the root attribute's own header */
#define UBUS_FRAME_HEAD	12

/* deepest container nesting accepted inside message data */
#define UBUS_MAX_DEPTH	64

/* a payload of len bytes with its padding */
static inline size_t ubus_padded(size_t len)
{
	return (len + BLOB_ATTR_ALIGN - 1) & ~(size_t) (BLOB_ATTR_ALIGN - 1);
}

/* An attribute header at p, for messages put together without a blob_buf. */
static inline void ubus_attr_hdr(void *p, int id, size_t rawlen)
{
	uint32_t id_len = cpu_to_be32(((uint32_t) id << BLOB_ATTR_ID_SHIFT) | (uint32_t) rawlen);

	memcpy(p, &id_len, sizeof(id_len));
}

/* Bytes of the whole message announced by its first 12 bytes, 0 if invalid. */
size_t ubus_frame_len(const uint8_t *head);

/*
 * Fills tb[0..UBUS_ATTR_MAX) with the root's children. Attributes of the wrong
 * shape are skipped (the last of duplicates wins); returns false when an
 * attribute claims more bytes than the root holds.
 */
bool ubus_msg_parse(const struct blob_attr *root, struct blob_attr **tb);

/* A run of well-formed blobmsg attributes, containers checked recursively. */
bool ubus_blobmsg_list_valid(const void *data, size_t len, int depth);

/* Receive buffer: messages are handed out 4-byte aligned. */
struct ubus_rx {
	uint8_t *buf;
	size_t cap;
	size_t start;
	size_t end;
};

/* Room to read into (growing for the message being assembled); NULL on ENOMEM. */
uint8_t *ubus_rx_space(struct ubus_rx *rx, size_t *room);
void ubus_rx_commit(struct ubus_rx *rx, size_t n);

/* read() once into the buffer: >0 bytes, 0 EOF, -1 error (errno). */
ssize_t ubus_rx_read(struct ubus_rx *rx, int fd);

/*
 * 1: a complete message at *msg (header, then root) of *total bytes;
 * 0: more bytes needed; -1: invalid header (the stream cannot be trusted).
 */
int ubus_rx_peek(struct ubus_rx *rx, uint8_t **msg, size_t *total);
void ubus_rx_consume(struct ubus_rx *rx, size_t total);
static inline bool ubus_rx_empty(const struct ubus_rx *rx)
{
	return rx->start == rx->end;
}

/* Storage of cap bytes from malloc() for a buffer that has none. */
void ubus_rx_attach(struct ubus_rx *rx, uint8_t *buf, size_t cap);
/* Takes the storage back from a buffer holding no bytes; NULL otherwise. */
uint8_t *ubus_rx_detach(struct ubus_rx *rx);
/* Frees the buffer if it holds no bytes and more than keep. */
void ubus_rx_shrink(struct ubus_rx *rx, size_t keep);
void ubus_rx_free(struct ubus_rx *rx);

#endif
