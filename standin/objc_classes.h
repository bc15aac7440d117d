// The platform's classes that the system's platform glue looks up by name,
// registered with the process's one object runtime when the stand-in loads.
// They are small: each answers only the messages the glue sends, from the
// stand-in's own model, and the objects they answer with are described in
// objc_objects.h.
#pragma once

#include <objc/runtime.h>

#include <initializer_list>

namespace standin::objc {

struct Classes {
  // Foundation
  Class object = Nil;  // NSObject, the root
  Class string = Nil;
  Class array = Nil;
  Class bundle = Nil;
  // Notifications: the newer centre and its responses, the older centre
  Class userCenter = Nil;
  Class response = Nil;
  Class notification = Nil;
  Class request = Nil;
  Class content = Nil;
  Class legacyCenter = Nil;
  Class legacyNotification = Nil;
  // Windows, views and the web engine's preferences
  Class application = Nil;
  Class window = Nil;
  Class view = Nil;
  Class webView = Nil;
  Class webViewConfiguration = Nil;
  Class preferences = Nil;
  Class feature = Nil;
};

// Registers the classes on first use (at the latest when the library loads).
const Classes& classes();

// ---- For the files that define the classes --------------------------------

// Each file of classes fills its part of `out`.
void defineNotificationClasses(Classes& out);
void defineViewClasses(Classes& out);

// Defines and registers a class with the methods `addMethods` gives it. A
// name already taken (a second copy of the stand-in in the process) keeps
// the class that holds it.
template <typename AddMethods>
Class defineClass(const char* name, Class superclass, AddMethods addMethods);

Class allocateClass(const char* name, Class superclass);  // Nil when taken
void registerClass(Class cls);
void addMethod(Class cls, const char* selector, IMP imp, const char* types);
void addClassMethod(Class cls, const char* selector, IMP imp, const char* types);
// Getters that answer the object's member of the selector's name.
void addGetters(Class cls, std::initializer_list<const char*> selectors);

template <typename Fn>
IMP asImp(Fn* fn) {
  // Through the generic function type, as function pointers convert cleanly.
  return reinterpret_cast<IMP>(reinterpret_cast<void (*)()>(fn));
}

template <typename AddMethods>
Class defineClass(const char* name, Class superclass, AddMethods addMethods) {
  Class cls = allocateClass(name, superclass);
  if (!cls) return objc_getClass(name);
  addMethods(cls);
  registerClass(cls);
  return cls;
}

}  // namespace standin::objc
