#include "objc_objects.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "objc_classes.h"

namespace standin::objc {

namespace {

void** slotOf(id object) {
  return static_cast<void**>(object_getIndexedIvars(object));
}

struct Made {
  id object;
  bool string;
};

void dispose(const Made& made) {
  void** slot = slotOf(made.object);
  if (made.string) {
    std::free(*slot);
  } else {
    delete static_cast<ObjectData*>(*slot);
  }
  object_dispose(made.object);
}

class Pool {
 public:
  Pool() = default;
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  ~Pool() { drain(); }

  void add(Made made) { made_.push_back(made); }
  void drain() {
    // Swapped out first: nothing released may put anything back meanwhile.
    std::vector<Made> going;
    going.swap(made_);
    for (const Made& made : going) dispose(made);
  }

 private:
  std::vector<Made> made_;
};

thread_local Pool threadPool;
thread_local std::vector<Pool*> openScopes;

Pool& currentPool() {
  return openScopes.empty() ? threadPool : *openScopes.back();
}

id instanceWith(Class cls, void* slot) {
  id object = class_createInstance(cls, sizeof(void*));
  if (!object) return nil;
  *slotOf(object) = slot;
  return object;
}

id dataObject(Class cls, ObjectData data) {
  auto* owned = new ObjectData(std::move(data));
  id object = instanceWith(cls, owned);
  if (!object) delete owned;
  return object;
}

}  // namespace

ObjectData* dataOf(id object) {
  if (!object) return nullptr;
  return static_cast<ObjectData*>(*slotOf(object));
}

const char* textOf(id string) {
  if (!string) return nullptr;
  return static_cast<const char*>(*slotOf(string));
}

id newObject(Class cls, ObjectData data) {
  id object = dataObject(cls, std::move(data));
  if (object) currentPool().add({object, false});
  return object;
}

id newString(const char* text) {
  if (!text) return nil;
  char* copy = strdup(text);
  if (!copy) return nil;
  id object = instanceWith(classes().string, copy);
  if (!object) {
    std::free(copy);
    return nil;
  }
  currentPool().add({object, true});
  return object;
}

id newArray(std::vector<id> items) {
  ObjectData data;
  data.items = std::move(items);
  return newObject(classes().array, std::move(data));
}

id keptObject(Class cls, ObjectData data) {
  return dataObject(cls, std::move(data));
}

id allocInstance(Class cls) {
  return instanceWith(cls, nullptr);
}

void releaseThreadObjects() {
  threadPool.drain();
}

ObjectScope::ObjectScope() {
  openScopes.push_back(new Pool);
}

ObjectScope::~ObjectScope() {
  Pool* closing = openScopes.back();
  openScopes.pop_back();
  delete closing;
}

}  // namespace standin::objc
