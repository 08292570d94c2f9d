/*
 * Link stand-ins for an older generation's platform libraries: what they
 * export, with empty bodies. The era builds compile and link, they never run.
 * Built once per library with STUB_<LIBRARY> defined.
 */
#include <stdbool.h>
#include <stdint.h>

struct blob_buf;
struct blob_attr;
struct blobmsg_policy;
struct json_object;
struct ubus_context;
struct ubus_object;
struct ubus_request_data;
struct uci_context;
struct uci_package;
struct uci_ptr;
struct uloop_fd;
struct uloop_timeout;

#ifdef STUB_UBOX
bool uloop_cancelled;
int uloop_init(void) { return 0; }
void uloop_run(void) { }
void uloop_done(void) { }
int uloop_fd_add(struct uloop_fd *sock, unsigned int flags) { return 0; }
int uloop_fd_delete(struct uloop_fd *sock) { return 0; }
int uloop_timeout_set(struct uloop_timeout *t, int msecs) { return 0; }
int uloop_timeout_cancel(struct uloop_timeout *t) { return 0; }
int blob_buf_init(struct blob_buf *buf, int id) { return 0; }
void blob_buf_free(struct blob_buf *buf) { }
int blobmsg_parse(const struct blobmsg_policy *policy, int n, struct blob_attr **tb, void *data, int len) { return 0; }
int blobmsg_add_field(struct blob_buf *buf, int type, const char *name, const void *data, int len) { return 0; }
void *blobmsg_open_nested(struct blob_buf *buf, const char *name, bool array) { return 0; }
void blob_nest_end(struct blob_buf *buf, void *cookie) { }
#endif

#ifdef STUB_BLOBMSG_JSON
bool blobmsg_add_json_element(struct blob_buf *b, const char *name, struct json_object *obj) { return false; }
#endif

#ifdef STUB_UBUS
struct ubus_context *ubus_connect(const char *path) { return 0; }
void ubus_free(struct ubus_context *ctx) { }
int ubus_lookup_id(struct ubus_context *ctx, const char *path, uint32_t *id) { return 0; }
int ubus_add_object(struct ubus_context *ctx, struct ubus_object *obj) { return 0; }
int ubus_send_reply(struct ubus_context *ctx, struct ubus_request_data *req, struct blob_attr *msg) { return 0; }
int ubus_invoke(struct ubus_context *ctx, uint32_t obj, const char *method, struct blob_attr *msg,
		void *cb, void *priv, int timeout) { return 0; }
#endif

#ifdef STUB_UCI
struct uci_context *uci_alloc_context(void) { return 0; }
void uci_free_context(struct uci_context *ctx) { }
int uci_lookup_ptr(struct uci_context *ctx, struct uci_ptr *ptr, char *str, bool extended) { return 0; }
int uci_set(struct uci_context *ctx, struct uci_ptr *ptr) { return 0; }
int uci_save(struct uci_context *ctx, struct uci_package *p) { return 0; }
int uci_commit(struct uci_context *ctx, struct uci_package **p, bool overwrite) { return 0; }
int uci_set_confdir(struct uci_context *ctx, const char *dir) { return 0; }
int uci_set_savedir(struct uci_context *ctx, const char *dir) { return 0; }
#endif

#ifdef STUB_JSON
struct json_object *json_object_new_array(void) { return 0; }
int json_object_array_add(struct json_object *a, struct json_object *v) { return 0; }
struct json_object *json_object_new_int(int i) { return 0; }
void json_object_put(struct json_object *o) { }
#endif
