#include "shell/platform/tray_ext.h"

#include <dlfcn.h>
#include <string.h>

typedef void (*bk_u32_string_fn)(uint32_t, const char*);

/* Entry points arrive as data pointers from the loader; copying the bits
 * keeps ISO C and the compiler quiet about the conversion. */
static bk_u32_string_fn as_u32_string_fn(void* p) {
  bk_u32_string_fn f;
  memcpy(&f, &p, sizeof f);
  return f;
}

void* bk_open(const char* path) {
  /* The same file the binding opened with local scope: this handle makes its
   * names global as well. */
  return dlopen(path, RTLD_NOW | RTLD_GLOBAL);
}

void* bk_sym(void* handle, const char* name) {
  return dlsym(handle, name);
}

void bk_set_tray_menu(void* fn, uint32_t id, const char* json) {
  as_u32_string_fn(fn)(id, json);
}

void bk_set_tray_image(void* fn, uint32_t id, const char* s) {
  as_u32_string_fn(fn)(id, s);
}
