/*
 * query.c - bus questions that wait for the broker itself, on a thread of
 * their own
 *
 * The library has no lookup that gives up, and connecting waits for the
 * broker's greeting: a stopped broker would hold the loop for as long as it
 * stays stopped. Here it holds only this thread; the loop's deadline answers
 * the client meanwhile. The thread asks one question at a time on a
 * connection of its own. It frees no context, since freeing one touches the
 * loop's state: a lost one goes back with the next answer. The library
 * builds lookups in one shared buffer, and only this thread asks them.
 */
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <libubus.h>

#include "query.h"

static struct {
	pthread_mutex_t lock;
	pthread_cond_t wake;
	struct list_head queue;		/* submitted, not taken yet */
	struct list_head answered;	/* for the loop */
	bool stopping;
	int busy_fd;			/* the thread's socket: the stop ends a wait on it */
	int pipe[2];			/* the thread wakes the loop through it */
	pthread_t thread;
	bool started;
	const char *sock_path;
} qs = {
	.lock = PTHREAD_MUTEX_INITIALIZER,
	.wake = PTHREAD_COND_INITIALIZER,
	.queue = LIST_HEAD_INIT(qs.queue),
	.answered = LIST_HEAD_INIT(qs.answered),
	.busy_fd = -1,
	.pipe = { -1, -1 },
};

static struct uloop_fd notify;

static void add_path(struct ubus_context *c, struct ubus_object_data *obj, void *priv)
{
	json_object_array_add(priv, json_object_new_string(obj->path));
}

static const char *const type_words[] = {
	[BLOBMSG_TYPE_UNSPEC] = "unknown",
	[BLOBMSG_TYPE_ARRAY] = "array",
	[BLOBMSG_TYPE_TABLE] = "object",
	[BLOBMSG_TYPE_STRING] = "string",
	[BLOBMSG_TYPE_INT64] = "unknown",
	[BLOBMSG_TYPE_INT32] = "number",
	[BLOBMSG_TYPE_INT16] = "unknown",
	[BLOBMSG_TYPE_INT8] = "boolean",
	[BLOBMSG_TYPE_DOUBLE] = "unknown",
};

static const char *type_word(uint32_t type)
{
	if (type >= sizeof(type_words) / sizeof(type_words[0]))
		return "unknown";
	return type_words[type];
}

static void add_signature(struct ubus_context *c, struct ubus_object_data *obj, void *priv)
{
	struct json_object *methods;
	struct blob_attr *m, *a;
	size_t rem, arem;

	if (!obj->signature)
		return;
	methods = json_object_new_object();
	blob_for_each_attr(m, obj->signature, rem) {
		struct json_object *args = json_object_new_object();

		if (blobmsg_type(m) == BLOBMSG_TYPE_TABLE)
			blobmsg_for_each_attr(a, m, arem)
				if (blobmsg_type(a) == BLOBMSG_TYPE_INT32)
					json_object_object_add(args, blobmsg_name(a),
							       json_object_new_string(type_word(blobmsg_get_u32(a))));
		json_object_object_add(methods, blobmsg_name(m), args);
	}
	json_object_object_add(priv, obj->path, methods);
}

static bool lost(struct ubus_context *c, int ret)
{
	return c->sock.eof || ret == UBUS_STATUS_CONNECTION_FAILED;
}

/* false when the connection turned out lost */
static bool answer(struct ubus_context *c, struct query *q)
{
	int ret = 0, i;

	q->result = BUS_NO_CONNECTION;
	if (!c)
		return false;
	switch (q->kind) {
	case QUERY_LOOKUP:
		ret = ubus_lookup_id(c, q->args[0], &q->id);
		break;
	case QUERY_PATHS:
		q->json = json_object_new_array();
		ret = ubus_lookup(c, NULL, add_path, q->json);
		break;
	case QUERY_SIGNATURES:
		q->json = json_object_new_object();
		for (i = 0; i < q->n_args && !lost(c, ret); i++)
			ret = ubus_lookup(c, q->args[i], add_signature, q->json);
		break;
	}
	if (lost(c, ret)) {
		json_object_put(q->json);
		q->json = NULL;
		return false;
	}
	q->result = q->kind == QUERY_LOOKUP && (ret || !q->id) ? BUS_NO_OBJECT : BUS_OK;
	return true;
}

static void set_busy_fd(int fd)
{
	pthread_mutex_lock(&qs.lock);
	qs.busy_fd = fd;
	if (qs.stopping && fd >= 0)
		shutdown(fd, SHUT_RDWR);
	pthread_mutex_unlock(&qs.lock);
}

/* The thread's connection, made anew once lost; the lost one rides back on q. */
static struct ubus_context *thread_ctx(struct ubus_context *c, bool *lost_c, struct query *q)
{
	if (c && !*lost_c)
		return c;
	if (c) {
		set_busy_fd(-1);
		q->retired = c;
	}
	*lost_c = false;
	c = ubus_connect(qs.sock_path);
	if (c)
		set_busy_fd(c->sock.fd);
	return c;
}

static struct query *take(void)
{
	struct query *q = NULL;

	pthread_mutex_lock(&qs.lock);
	while (!qs.stopping && list_empty(&qs.queue))
		pthread_cond_wait(&qs.wake, &qs.lock);
	if (!qs.stopping) {
		q = list_first_entry(&qs.queue, struct query, list);
		list_del(&q->list);
		q->taken = true;
	}
	pthread_mutex_unlock(&qs.lock);
	return q;
}

static void *query_thread(void *arg)
{
	struct ubus_context *c = NULL;
	bool lost_c = false;
	struct query *q;

	while ((q = take())) {
		c = thread_ctx(c, &lost_c, q);
		lost_c = !answer(c, q);
		if (q->want_ctx && q->result != BUS_NO_CONNECTION)
			q->ctx = ubus_connect(qs.sock_path);
		pthread_mutex_lock(&qs.lock);
		list_add_tail(&q->list, &qs.answered);
		pthread_mutex_unlock(&qs.lock);
		/* one byte wakes the loop; a full pipe has woken it already */
		if (write(qs.pipe[1], "", 1) < 0)
			continue;
	}
	/* the loop has stopped: nothing of it runs beside this */
	if (c)
		ubus_free(c);
	return NULL;
}

static void query_free(struct query *q)
{
	int i;

	if (q->retired)
		ubus_free(q->retired);
	if (q->ctx)
		ubus_free(q->ctx);
	json_object_put(q->json);
	for (i = 0; i < q->n_args; i++)
		free(q->args[i]);
	free(q->args);
	free(q);
}

static void answered(struct uloop_fd *u, unsigned int events)
{
	struct query *q, *tmp;
	LIST_HEAD(done);
	char buf[256];

	while (read(u->fd, buf, sizeof(buf)) > 0)
		;
	pthread_mutex_lock(&qs.lock);
	list_splice_init(&qs.answered, &done);
	pthread_mutex_unlock(&qs.lock);
	/* a done callback may cancel others of these: they are only marked */
	list_for_each_entry_safe(q, tmp, &done, list) {
		list_del(&q->list);
		if (!q->cancelled)
			q->done(q);
		query_free(q);
	}
}

int query_init(const char *socket_path)
{
	sigset_t all, old;
	int ret;

	qs.sock_path = socket_path;
	if (pipe2(qs.pipe, O_NONBLOCK | O_CLOEXEC))
		return -1;
	notify.fd = qs.pipe[0];
	notify.cb = answered;
	if (uloop_fd_add(&notify, ULOOP_READ))
		return -1;
	/* signals are the loop's */
	sigfillset(&all);
	pthread_sigmask(SIG_BLOCK, &all, &old);
	ret = pthread_create(&qs.thread, NULL, query_thread, NULL);
	pthread_sigmask(SIG_SETMASK, &old, NULL);
	qs.started = ret == 0;
	return ret ? -1 : 0;
}

static void free_list(struct list_head *head)
{
	struct query *q, *tmp;

	list_for_each_entry_safe(q, tmp, head, list) {
		list_del(&q->list);
		query_free(q);
	}
}

void query_done(void)
{
	struct timespec until;

	if (!qs.started)
		return;
	pthread_mutex_lock(&qs.lock);
	qs.stopping = true;
	free_list(&qs.queue);
	if (qs.busy_fd >= 0)
		shutdown(qs.busy_fd, SHUT_RDWR);
	pthread_cond_broadcast(&qs.wake);
	pthread_mutex_unlock(&qs.lock);
	/* a thread still connecting to a stopped broker is left to the exit */
	clock_gettime(CLOCK_REALTIME, &until);
	until.tv_sec += 2;
	if (pthread_timedjoin_np(qs.thread, NULL, &until)) {
		pthread_detach(qs.thread);
		return;
	}
	qs.started = false;
	uloop_fd_delete(&notify);
	free_list(&qs.answered);
	close(qs.pipe[0]);
	close(qs.pipe[1]);
}

struct query *query_new(enum query_kind kind, void (*done)(struct query *q), void *priv)
{
	struct query *q = calloc(1, sizeof(*q));

	if (!q)
		return NULL;
	q->kind = kind;
	q->done = done;
	q->priv = priv;
	INIT_LIST_HEAD(&q->list);
	return q;
}

int query_add_arg(struct query *q, const char *arg)
{
	char **args = realloc(q->args, (q->n_args + 1) * sizeof(*args));

	if (!args)
		return -1;
	q->args = args;
	q->args[q->n_args] = strdup(arg);
	return q->args[q->n_args] ? q->n_args++, 0 : -1;
}

void query_submit(struct query *q)
{
	pthread_mutex_lock(&qs.lock);
	list_add_tail(&q->list, &qs.queue);
	pthread_cond_signal(&qs.wake);
	pthread_mutex_unlock(&qs.lock);
}

void query_cancel(struct query *q)
{
	pthread_mutex_lock(&qs.lock);
	if (q->taken) {
		q->cancelled = true;
		pthread_mutex_unlock(&qs.lock);
		return;
	}
	list_del(&q->list);
	pthread_mutex_unlock(&qs.lock);
	query_free(q);
}
