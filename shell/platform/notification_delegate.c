/* The notification delegate: a class of our own, made at run time, that the
 * platform's notification centres tell about clicks. It hands the clicked
 * notification's title, subtitle and body to bkNotificationClicked and
 * touches nothing else of the shell. */
#include <dispatch/dispatch.h>
#include <objc/runtime.h>
#include <stddef.h>
#include <string.h>

#include "shell/platform/objc_send.h"
#include "shell/platform/platform_glue.h"

/* The notification framework's action identifier of a dismissal. */
extern id const UNNotificationDismissActionIdentifier;

/* A block as the platform passes it: the published layout. */
struct bk_block_literal {
  void* isa;
  int flags;
  int reserved;
  void (*invoke)(void*, ...);
  void* descriptor;
};

/* The one delegate of the process, never released; written on the main
 * thread only. */
static id bkDelegate;

static const char* bk_text_of(id string) {
  const char* text = bk_utf8(string);
  return text ? text : "";
}

static void bkDidReceiveResponse(id self, SEL cmd, id center, id response, id completionHandler) {
  (void)self;
  (void)cmd;
  (void)center;
  const char* action = bk_text_of(bk_send(response, "actionIdentifier"));
  const char* dismissed = bk_utf8(UNNotificationDismissActionIdentifier);
  /* A dismissal is not a click: it opens nothing. */
  if (!dismissed || strcmp(action, dismissed) != 0) {
    const char* title = "";
    const char* subtitle = "";
    const char* body = "";
    id notification = bk_send(response, "notification");
    id request = notification ? bk_send(notification, "request") : nil;
    id content = request ? bk_send(request, "content") : nil;
    if (content) {
      title = bk_text_of(bk_send(content, "title"));
      subtitle = bk_text_of(bk_send(content, "subtitle"));
      body = bk_text_of(bk_send(content, "body"));
    }
    bkNotificationClicked(title, subtitle, body);
  }
  /* The platform waits for this in every case, dismissals included. */
  struct bk_block_literal* block = (struct bk_block_literal*)completionHandler;
  if (block) ((void (*)(void*))(bk_objc_fn)block->invoke)(block);
}

static void bkDidActivateNotification(id self, SEL cmd, id center, id notification) {
  (void)self;
  (void)cmd;
  (void)center;
  /* The older centre carries the body as the informative text. */
  bkNotificationClicked(bk_text_of(bk_send(notification, "title")),
                        bk_text_of(bk_send(notification, "subtitle")),
                        bk_text_of(bk_send(notification, "informativeText")));
}

static Class bkDelegateClass(void) {
  Class cls = objc_getClass("BrovikWorkNotificationDelegate");
  if (cls) return cls;
  /* Without the root class there is nothing to derive from; a class made
   * without it would be a root that answers no message. */
  Class root = objc_getClass("NSObject");
  if (!root) return Nil;
  cls = objc_allocateClassPair(root, "BrovikWorkNotificationDelegate", 0);
  if (!cls) return Nil;
  class_addMethod(
      cls,
      sel_registerName(
          "userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:"),
      (IMP)(bk_objc_fn)bkDidReceiveResponse, "v@:@@@?");
  class_addMethod(cls, sel_registerName("userNotificationCenter:didActivateNotification:"),
                  (IMP)(bk_objc_fn)bkDidActivateNotification, "v@:@@");
  objc_registerClassPair(cls);
  return cls;
}

static void bkSetDelegateOf(const char* centerClass, const char* accessor) {
  Class cls = objc_getClass(centerClass);
  if (!cls) return;
  id center = bk_send((id)cls, accessor);
  if (center) bk_send_id(center, "setDelegate:", bkDelegate);
}

static void bkInstallDelegateOnMain(void* context) {
  (void)context;
  if (bkDelegate) return;

  /* A process that does not run from a bundle with an identifier gets no
   * delegate: the centres would refuse it. */
  Class bundleClass = objc_getClass("NSBundle");
  if (!bundleClass) return;
  id bundle = bk_send((id)bundleClass, "mainBundle");
  if (!bundle || !bk_send(bundle, "bundleIdentifier")) return;

  Class cls = bkDelegateClass();
  if (!cls) return;
  id instance = bk_send((id)cls, "alloc");
  if (instance) instance = bk_send(instance, "init");
  bkDelegate = instance;

  bkSetDelegateOf("UNUserNotificationCenter", "currentNotificationCenter");
  bkSetDelegateOf("NSUserNotificationCenter", "defaultUserNotificationCenter");
}

void bkInstallNotificationDelegate(void) {
  dispatch_async_f(dispatch_get_main_queue(), NULL, bkInstallDelegateOnMain);
}
