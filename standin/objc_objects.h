// Objects of the stand-in's platform classes (see objc_classes.h) and how long
// they live.
//
// Every object is its class pointer followed by one pointer-sized slot: for
// strings the UTF-8 text, for the others their ObjectData. A string constant
// of the platform's libraries has the same layout, laid out statically.
#pragma once

#include <objc/runtime.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace standin::objc {

// What an object other than a string carries.
struct ObjectData {
  // The answer to each getter message, by selector name; a missing one is nil.
  std::map<std::string, id, std::less<>> members;
  std::vector<id> items;  // an array's elements, in order
  uint32_t webview = 0;   // whose preferences these are (0: none)
  uint32_t window = 0;
};

// The data of `object`; null for nil and for an object made by a plain alloc.
ObjectData* dataOf(id object);
// A string's UTF-8 text; null for nil or a string without text.
const char* textOf(id string);

// Objects made to answer a message belong to the calling thread, like the
// platform's autoreleased answers: they go when the thread's objects are
// released (each turn of the main loop, or when the thread ends) or, while
// an ObjectScope is open on the thread, when that scope closes.
id newObject(Class cls, ObjectData data);
id newString(const char* text);  // nil for null
id newArray(std::vector<id> items);
// One of the platform's singletons: kept for the life of the process.
id keptObject(Class cls, ObjectData data);
// An instance with an empty slot, as a plain alloc makes it; its owner keeps
// it (the platform's +1 answer).
id allocInstance(Class cls);

// Lets go of the objects the calling thread made outside any scope.
void releaseThreadObjects();

// Objects made on this thread while the scope is open go when it closes.
class ObjectScope {
 public:
  ObjectScope();
  ~ObjectScope();
  ObjectScope(const ObjectScope&) = delete;
  ObjectScope& operator=(const ObjectScope&) = delete;
};

}  // namespace standin::objc
