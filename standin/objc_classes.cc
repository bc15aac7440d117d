#include "objc_classes.h"

#include <objc/message.h>

#include "objc_objects.h"

namespace standin::objc {

namespace {

// ---- NSObject ---------------------------------------------------------------

id allocImp(id self, SEL) {
  return allocInstance(reinterpret_cast<Class>(self));
}

id initImp(id self, SEL) {
  return self;
}

BOOL respondsToSelectorImp(id self, SEL, SEL selector) {
  // A class object asks its metaclass, so classes answer for class methods.
  return selector && class_respondsToSelector(object_getClass(self), selector) ? YES : NO;
}

BOOL isKindOfClassImp(id self, SEL, Class wanted) {
  for (Class c = object_getClass(self); c; c = class_getSuperclass(c)) {
    if (c == wanted) return YES;
  }
  return NO;
}

// ---- NSString, NSArray ------------------------------------------------------

const char* utf8StringImp(id self, SEL) {
  return textOf(self);
}

unsigned long countImp(id self, SEL) {
  ObjectData* data = dataOf(self);
  return data ? data->items.size() : 0;
}

id objectAtIndexImp(id self, SEL, unsigned long index) {
  ObjectData* data = dataOf(self);
  return data && index < data->items.size() ? data->items[index] : nil;
}

id memberImp(id self, SEL selector) {
  ObjectData* data = dataOf(self);
  if (!data) return nil;
  auto member = data->members.find(sel_getName(selector));
  return member == data->members.end() ? nil : member->second;
}

Classes defineAll() {
  Classes out;
  out.object = defineClass("NSObject", Nil, [](Class cls) {
    addClassMethod(cls, "alloc", asImp(allocImp), "@@:");
    addMethod(cls, "init", asImp(initImp), "@@:");
    addMethod(cls, "respondsToSelector:", asImp(respondsToSelectorImp), "c@::");
    addMethod(cls, "isKindOfClass:", asImp(isKindOfClassImp), "c@:#");
  });
  out.string = defineClass("NSString", out.object, [](Class cls) {
    addMethod(cls, "UTF8String", asImp(utf8StringImp), "r*@:");
  });
  out.array = defineClass("NSArray", out.object, [](Class cls) {
    addMethod(cls, "count", asImp(countImp), "Q@:");
    addMethod(cls, "objectAtIndex:", asImp(objectAtIndexImp), "@@:Q");
  });
  defineNotificationClasses(out);
  defineViewClasses(out);
  return out;
}

// The glue looks the classes up by name before it asks the stand-in anything.
__attribute__((constructor)) void defineWhenLoaded() {
  classes();
}

}  // namespace

const Classes& classes() {
  static const Classes defined = defineAll();
  return defined;
}

Class allocateClass(const char* name, Class superclass) {
  if (objc_getClass(name)) return Nil;
  Class cls = objc_allocateClassPair(superclass, name, 0);
  if (cls && !superclass) {
    // A root class declares the class pointer every object starts with.
    class_addIvar(cls, "isa", sizeof(Class), alignof(Class) == 8 ? 3 : 2, "#");
  }
  return cls;
}

void registerClass(Class cls) {
  objc_registerClassPair(cls);
}

void addMethod(Class cls, const char* selector, IMP imp, const char* types) {
  class_addMethod(cls, sel_registerName(selector), imp, types);
}

void addClassMethod(Class cls, const char* selector, IMP imp, const char* types) {
  class_addMethod(object_getClass(reinterpret_cast<id>(cls)), sel_registerName(selector), imp,
                  types);
}

void addGetters(Class cls, std::initializer_list<const char*> selectors) {
  for (const char* selector : selectors) addMethod(cls, selector, asImp(memberImp), "@@:");
}

}  // namespace standin::objc
