/* Fake kernel: mutexes. The tests run one thread; the fake checks balance. */
#ifndef FAKE_LINUX_MUTEX_H
#define FAKE_LINUX_MUTEX_H

struct mutex {
	int fk_held;
};

#define DEFINE_MUTEX(name) struct mutex name = { 0 }

void mutex_lock(struct mutex *lock);
void mutex_unlock(struct mutex *lock);
#endif
