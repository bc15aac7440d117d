/* GCC's runtime looks the method up; the caller then calls it. */
#include <objc/message.h>

#include "shell/platform/objc_send.h"

bk_objc_fn bk_objc_method(id receiver, SEL selector) {
  return (bk_objc_fn)objc_msg_lookup(receiver, selector);
}
