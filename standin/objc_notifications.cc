#include "objc_notifications.h"

#include <dlfcn.h>

#include "objc_classes.h"
#include "objc_objects.h"
#include "trace.h"

namespace standin::objc {

namespace {

struct Singletons {
  id bundle = keptObject(classes().bundle, {});
  id userCenter = keptObject(classes().userCenter, {});
  id legacyCenter = keptObject(classes().legacyCenter, {});
};

const Singletons& singletons() {
  static const Singletons* made = new Singletons;
  return *made;
}

// The constant as the dispatch library lays it out, once it has its class.
id frameworkDismissConstant() {
  void* symbol = dlsym(RTLD_DEFAULT, "UNNotificationDismissActionIdentifier");
  return symbol ? *static_cast<id const*>(symbol) : nil;
}

Center centerOf(id center) {
  return object_getClass(center) == classes().userCenter ? Center::user : Center::legacy;
}

const char* centerName(Center center) {
  return center == Center::user ? "UNUserNotificationCenter" : "NSUserNotificationCenter";
}

id newText(const std::optional<std::string>& text) {
  return text ? newString(text->c_str()) : nil;
}

// ---- Methods ------------------------------------------------------------------

id mainBundleImp(id, SEL) {
  return platformSettings().mainBundle ? singletons().bundle : nil;
}

id bundleIdentifierImp(id, SEL) {
  std::optional<std::string> identifier = platformSettings().bundleIdentifier;
  return identifier ? newString(identifier->c_str()) : nil;
}

id currentNotificationCenterImp(id, SEL) {
  return platformSettings().userCenter ? singletons().userCenter : nil;
}

id defaultUserNotificationCenterImp(id, SEL) {
  return platformSettings().legacyCenter ? singletons().legacyCenter : nil;
}

void setDelegateImp(id self, SEL, id delegate) {
  Center center = centerOf(self);
  setCenterDelegate(center, delegate);
  traceLine(std::string(centerName(center)) +
            " setDelegate: " + (delegate ? object_getClassName(delegate) : "nil"));
}

id delegateImp(id self, SEL) {
  return centerDelegate(centerOf(self));
}

void defineCenter(Class& out, const char* name, const char* accessor, IMP accessorImp, Class root) {
  out = defineClass(name, root, [&](Class cls) {
    addClassMethod(cls, accessor, accessorImp, "@@:");
    addMethod(cls, "setDelegate:", asImp(setDelegateImp), "v@:@");
    addMethod(cls, "delegate", asImp(delegateImp), "@@:");
  });
}

}  // namespace

void defineNotificationClasses(Classes& out) {
  Class root = out.object;
  out.bundle = defineClass("NSBundle", root, [](Class cls) {
    addClassMethod(cls, "mainBundle", asImp(mainBundleImp), "@@:");
    addMethod(cls, "bundleIdentifier", asImp(bundleIdentifierImp), "@@:");
  });
  defineCenter(out.userCenter, "UNUserNotificationCenter", "currentNotificationCenter",
               asImp(currentNotificationCenterImp), root);
  defineCenter(out.legacyCenter, "NSUserNotificationCenter", "defaultUserNotificationCenter",
               asImp(defaultUserNotificationCenterImp), root);
  out.response = defineClass("UNNotificationResponse", root, [](Class cls) {
    addGetters(cls, {"actionIdentifier", "notification"});
  });
  out.notification =
      defineClass("UNNotification", root, [](Class cls) { addGetters(cls, {"request"}); });
  out.request =
      defineClass("UNNotificationRequest", root, [](Class cls) { addGetters(cls, {"content"}); });
  out.content = defineClass("UNNotificationContent", root, [](Class cls) {
    addGetters(cls, {"title", "subtitle", "body"});
  });
  out.legacyNotification = defineClass("NSUserNotification", root, [](Class cls) {
    addGetters(cls, {"title", "subtitle", "informativeText"});
  });

  // Like a compiler's constant strings, the framework's constant gets its
  // class when the string class exists.
  id constant = frameworkDismissConstant();
  if (constant && !object_getClass(constant)) object_setClass(constant, out.string);
}

id centerObject(Center center) {
  return center == Center::user ? singletons().userCenter : singletons().legacyCenter;
}

id newResponse(const NotificationTexts& texts, const std::optional<std::string>& action,
               const std::string& missing) {
  if (missing == "response") return nil;
  ObjectData content;
  content.members = {
      {"title", newText(texts.title)},
      {"subtitle", newText(texts.subtitle)},
      {"body", newText(texts.body)},
  };
  ObjectData request;
  if (missing != "content") request.members["content"] = newObject(classes().content, content);
  ObjectData notification;
  if (missing != "request") {
    notification.members["request"] = newObject(classes().request, request);
  }
  ObjectData response;
  response.members["actionIdentifier"] =
      action == kDismissActionIdentifier ? dismissActionIdentifier() : newText(action);
  if (missing != "notification") {
    response.members["notification"] = newObject(classes().notification, notification);
  }
  return newObject(classes().response, response);
}

id newLegacyNotification(const NotificationTexts& texts) {
  ObjectData notification;
  notification.members = {
      {"title", newText(texts.title)},
      {"subtitle", newText(texts.subtitle)},
      {"informativeText", newText(texts.body)},
  };
  return newObject(classes().legacyNotification, notification);
}

id dismissActionIdentifier() {
  id constant = frameworkDismissConstant();
  if (constant && object_getClass(constant)) return constant;
  return newString(kDismissActionIdentifier);
}

}  // namespace standin::objc
