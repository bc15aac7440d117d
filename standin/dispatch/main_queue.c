/* The platform's main dispatch queue, as a library the executable links.
 *
 * On the platform the native event loop serves the main queue on every turn.
 * Here the stand-in core's loop does the same: it finds the two service
 * functions below by name (the executable's libraries are global) and, once
 * it runs, drains the queue each turn and is woken when work arrives. Until a
 * loop runs, queued work waits, as it does on the platform. */
#include <dispatch/dispatch.h>
#include <pthread.h>
#include <stddef.h>
#include <stdlib.h>

#define STANDIN_DISPATCH_EXPORT __attribute__((visibility("default")))

struct queued_work {
  dispatch_function_t work;
  void* context;
  struct queued_work* next;
};

struct dispatch_queue_s {
  pthread_mutex_t mu;
  struct queued_work* head;
  struct queued_work* tail;
  void (*wake)(void);
};

STANDIN_DISPATCH_EXPORT struct dispatch_queue_s _dispatch_main_q = {PTHREAD_MUTEX_INITIALIZER, NULL,
                                                                    NULL, NULL};

STANDIN_DISPATCH_EXPORT void dispatch_async_f(dispatch_queue_t queue, void* context,
                                              dispatch_function_t work) {
  /* The main queue is the only queue there is. */
  if (queue != &_dispatch_main_q || !work) return;
  struct queued_work* item = malloc(sizeof *item);
  if (!item) return;
  item->work = work;
  item->context = context;
  item->next = NULL;

  pthread_mutex_lock(&queue->mu);
  if (queue->tail) {
    queue->tail->next = item;
  } else {
    queue->head = item;
  }
  queue->tail = item;
  void (*wake)(void) = queue->wake;
  pthread_mutex_unlock(&queue->mu);
  if (wake) wake();
}

/* The event loop's side: `wake` is called, from any thread, whenever work is
 * queued. */
STANDIN_DISPATCH_EXPORT void standin_dispatch_set_main_queue_waker(void (*wake)(void)) {
  pthread_mutex_lock(&_dispatch_main_q.mu);
  _dispatch_main_q.wake = wake;
  pthread_mutex_unlock(&_dispatch_main_q.mu);
}

/* Runs, in order, the work queued so far, on the calling thread (the main
 * thread's loop). Work queued meanwhile waits for the next call. Returns how
 * much ran. */
STANDIN_DISPATCH_EXPORT size_t standin_dispatch_drain_main_queue(void) {
  pthread_mutex_lock(&_dispatch_main_q.mu);
  struct queued_work* item = _dispatch_main_q.head;
  _dispatch_main_q.head = NULL;
  _dispatch_main_q.tail = NULL;
  pthread_mutex_unlock(&_dispatch_main_q.mu);

  size_t ran = 0;
  while (item) {
    struct queued_work* next = item->next;
    item->work(item->context);
    free(item);
    item = next;
    ++ran;
  }
  return ran;
}
