/* The part of the platform's dispatch library that the platform glue uses:
 * asynchronous work on the main queue, which the native event loop serves. */
#ifndef STANDIN_DISPATCH_DISPATCH_H
#define STANDIN_DISPATCH_DISPATCH_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dispatch_queue_s* dispatch_queue_t;
typedef void (*dispatch_function_t)(void* context);

/* The main queue is one object of the library; its address is the queue. */
extern struct dispatch_queue_s _dispatch_main_q;
#define dispatch_get_main_queue() (&_dispatch_main_q)

/* Queues `work(context)` and returns at once. */
void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t work);

#ifdef __cplusplus
}
#endif

#endif
