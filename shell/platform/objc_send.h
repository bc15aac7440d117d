/* Messages to the platform's object runtime, sent the same way by all the
 * glue.
 *
 * The runtimes differ in one thing only: how a message is sent. Apple's sends
 * through objc_msgSend cast to the method's type; GCC's looks the method up
 * with objc_msg_lookup and calls what it finds. bk_objc_method is that
 * difference (objc_send_<platform>.c); the typed senders below build on it. */
#ifndef BK_SHELL_PLATFORM_OBJC_SEND_H
#define BK_SHELL_PLATFORM_OBJC_SEND_H

#include <objc/runtime.h>

/* A function, to be cast to the method's own type and called with the
 * receiver, the selector and the arguments. For nil it does nothing and
 * answers nil, 0 or NO. */
typedef void (*bk_objc_fn)(void);
bk_objc_fn bk_objc_method(id receiver, SEL selector);

static inline id bk_send(id receiver, const char* selector) {
  SEL sel = sel_registerName(selector);
  return ((id(*)(id, SEL))bk_objc_method(receiver, sel))(receiver, sel);
}

static inline void bk_send_id(id receiver, const char* selector, id argument) {
  SEL sel = sel_registerName(selector);
  ((void (*)(id, SEL, id))bk_objc_method(receiver, sel))(receiver, sel, argument);
}

static inline void bk_send_flag_id(id receiver, const char* selector, BOOL flag, id argument) {
  SEL sel = sel_registerName(selector);
  ((void (*)(id, SEL, BOOL, id))bk_objc_method(receiver, sel))(receiver, sel, flag, argument);
}

static inline BOOL bk_responds(id receiver, const char* selector) {
  SEL sel = sel_registerName("respondsToSelector:");
  SEL asked = sel_registerName(selector);
  return ((BOOL(*)(id, SEL, SEL))bk_objc_method(receiver, sel))(receiver, sel, asked);
}

static inline BOOL bk_is_kind_of(id receiver, Class cls) {
  SEL sel = sel_registerName("isKindOfClass:");
  return ((BOOL(*)(id, SEL, Class))bk_objc_method(receiver, sel))(receiver, sel, cls);
}

/* A string's UTF-8 text, or NULL (for nil too). */
static inline const char* bk_utf8(id string) {
  SEL sel = sel_registerName("UTF8String");
  return ((const char* (*)(id, SEL))bk_objc_method(string, sel))(string, sel);
}

static inline unsigned long bk_count(id array) {
  SEL sel = sel_registerName("count");
  return ((unsigned long (*)(id, SEL))bk_objc_method(array, sel))(array, sel);
}

static inline id bk_object_at(id array, unsigned long index) {
  SEL sel = sel_registerName("objectAtIndex:");
  return ((id(*)(id, SEL, unsigned long))bk_objc_method(array, sel))(array, sel, index);
}

#endif
