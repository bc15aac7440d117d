/* The one constant of the platform's notification framework that the glue
 * reads: the action identifier of a dismissed notification.
 *
 * Like a compiler's constant string, the object is laid out statically (its
 * class, then its UTF-8 text) and receives its class when the stand-in core
 * registers its string class with the runtime. */
#include <objc/runtime.h>

#define STANDIN_DISPATCH_EXPORT __attribute__((visibility("default")))

struct standin_constant_string {
  Class isa;
  const char* text;
};

static struct standin_constant_string dismissAction = {
    Nil, "com.apple.UNNotificationDismissActionIdentifier"};

STANDIN_DISPATCH_EXPORT id const UNNotificationDismissActionIdentifier = (id)&dismissAction;
