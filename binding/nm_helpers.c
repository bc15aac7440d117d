#include "binding/nm_helpers.h"

#include <dlfcn.h>
#include <stddef.h>
#include <string.h>

/* Entry points arrive as data pointers from the loader. Converting them
 * through the generic function type keeps ISO C and the compiler quiet. */
typedef void (*nm_fn)(void);

static nm_fn as_fn(void* p) {
  nm_fn f;
  memcpy(&f, &p, sizeof f);
  return f;
}

#define NM_FN(type, p) ((type)as_fn(p))

typedef void (*nm_status_item_fn)(uint32_t, const char*);
typedef void (*nm_string_cb_fn)(const char*);
typedef void (*nm_void_cb_fn)(void);
typedef void (*nm_window_cb_fn)(uint32_t);
typedef void (*nm_window_move_fn)(uint32_t, double, double);
typedef void (*nm_window_resize_fn)(uint32_t, double, double, double, double);
typedef void (*nm_window_key_fn)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
typedef uint32_t (*nm_decide_navigation_fn)(uint32_t, const char*);
typedef void (*nm_webview_event_fn)(uint32_t, const char*, const char*);
typedef void (*nm_webview_message_fn)(uint32_t, const char*);

/* ---- Loader ------------------------------------------------------------ */

void* nm_dlopen(const char* path) {
  /* Bind everything at once and keep the core's names out of the global
   * namespace. */
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* nm_dlsym(void* handle, const char* name) {
  return dlsym(handle, name);
}

const char* nm_dlerror(void) {
  return dlerror();
}

/* ---- Call helpers ------------------------------------------------------ */

void nm_call_void(void* fn) {
  NM_FN(void (*)(void), fn)();
}

void nm_call_bool(void* fn, bool a) {
  NM_FN(void (*)(bool), fn)(a);
}

void nm_call_bool_bool(void* fn, bool a, bool b) {
  NM_FN(void (*)(bool, bool), fn)(a, b);
}

void nm_call_u32(void* fn, uint32_t id) {
  NM_FN(void (*)(uint32_t), fn)(id);
}

void nm_call_u32_bool(void* fn, uint32_t id, bool a) {
  NM_FN(void (*)(uint32_t, bool), fn)(id, a);
}

bool nm_call_u32_bool_ret(void* fn, uint32_t id) {
  return NM_FN(bool (*)(uint32_t), fn)(id);
}

void nm_call_u32_f64(void* fn, uint32_t id, double a) {
  NM_FN(void (*)(uint32_t, double), fn)(id, a);
}

void nm_call_u32_f64_f64(void* fn, uint32_t id, double a, double b) {
  NM_FN(void (*)(uint32_t, double, double), fn)(id, a, b);
}

double nm_call_u32_f64_ret(void* fn, uint32_t id) {
  return NM_FN(double (*)(uint32_t), fn)(id);
}

void nm_call_u32_string(void* fn, uint32_t id, const char* s) {
  NM_FN(void (*)(uint32_t, const char*), fn)(id, s);
}

void nm_call_string(void* fn, const char* s) {
  NM_FN(void (*)(const char*), fn)(s);
}

bool nm_call_string_bool_ret(void* fn, const char* s) {
  return NM_FN(bool (*)(const char*), fn)(s);
}

char* nm_call_string_ret(void* fn) {
  return NM_FN(char* (*)(void), fn)();
}

const char* nm_call_last_error(void* fn) {
  return NM_FN(const char* (*)(void), fn)();
}

void nm_call_free_core_string(void* fn, char* s) {
  NM_FN(void (*)(char*), fn)(s);
}

char* nm_call_pop_host_message(void* fn, uint32_t* webview_id) {
  return NM_FN(char* (*)(uint32_t*), fn)(webview_id);
}

void nm_call_get_window_frame(void* fn, uint32_t id, double* x, double* y, double* width,
                              double* height) {
  NM_FN(void (*)(uint32_t, double*, double*, double*, double*), fn)(id, x, y, width, height);
}

uint32_t nm_call_get_window_style(void* fn, bool f1, bool f2, bool f3, bool f4, bool f5, bool f6,
                                  bool f7, bool f8, bool f9, bool f10, bool f11, bool f12) {
  typedef uint32_t (*style_fn)(bool, bool, bool, bool, bool, bool, bool, bool, bool, bool, bool,
                               bool);
  return NM_FN(style_fn, fn)(f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12);
}

uint32_t nm_call_create_window(void* fn, double x, double y, double width, double height,
                               uint32_t style_mask, const char* title_bar_style, bool flag1,
                               const char* title, bool flag2, bool flag3, bool flag4,
                               double number1, double number2, bool on_close, bool on_move,
                               bool on_resize, bool on_focus, bool on_blur, bool on_key,
                               bool on_should_close) {
  typedef uint32_t (*create_window_fn)(
      double, double, double, double, uint32_t, const char*, bool, const char*, bool, bool, bool,
      double, double, nm_window_cb_fn, nm_window_move_fn, nm_window_resize_fn, nm_window_cb_fn,
      nm_window_cb_fn, nm_window_key_fn, nm_window_cb_fn);
  return NM_FN(create_window_fn, fn)(
      x, y, width, height, style_mask, title_bar_style, flag1, title, flag2, flag3, flag4, number1,
      number2, on_close ? nm_window_close_cb : NULL, on_move ? nm_window_move_cb : NULL,
      on_resize ? nm_window_resize_cb : NULL, on_focus ? nm_window_focus_cb : NULL,
      on_blur ? nm_window_blur_cb : NULL, on_key ? nm_window_key_cb : NULL,
      on_should_close ? nm_window_should_close_cb : NULL);
}

uint32_t nm_call_create_webview(void* fn, uint32_t window_id, uint32_t second_id,
                                const char* renderer, const char* url, double x, double y,
                                double width, double height, bool view_flag, const char* partition,
                                bool on_decide_navigation, bool on_event, bool on_event_bridge,
                                bool on_host_bridge, bool on_internal_bridge,
                                const char* secret_key, const char* preload, const char* views_root,
                                bool flag1, bool flag2, bool flag3, bool flag4) {
  typedef uint32_t (*create_webview_fn)(
      uint32_t, uint32_t, const char*, const char*, double, double, double, double, bool,
      const char*, nm_decide_navigation_fn, nm_webview_event_fn, nm_webview_message_fn,
      nm_webview_message_fn, nm_webview_message_fn, const char*, const char*, const char*, bool,
      bool, bool, bool);
  return NM_FN(create_webview_fn, fn)(
      window_id, second_id, renderer, url, x, y, width, height, view_flag, partition,
      on_decide_navigation ? nm_decide_navigation_cb : NULL, on_event ? nm_webview_event_cb : NULL,
      on_event_bridge ? nm_webview_event_bridge_cb : NULL,
      on_host_bridge ? nm_webview_host_bridge_cb : NULL,
      on_internal_bridge ? nm_webview_internal_bridge_cb : NULL, secret_key, preload, views_root,
      flag1, flag2, flag3, flag4);
}

bool nm_call_configure_webview_runtime(void* fn, uint32_t number, const char* full_preload,
                                       const char* sandboxed_preload) {
  return NM_FN(bool (*)(uint32_t, const char*, const char*), fn)(number, full_preload,
                                                                 sandboxed_preload);
}

uint32_t nm_call_create_tray(void* fn, const char* title, const char* image, bool option,
                             uint32_t width, uint32_t height, bool on_status_item) {
  typedef uint32_t (*create_tray_fn)(const char*, const char*, bool, uint32_t, uint32_t,
                                     nm_status_item_fn);
  return NM_FN(create_tray_fn, fn)(title, image, option, width, height,
                                   on_status_item ? nm_status_item_cb : NULL);
}

void nm_call_menu(void* fn, const char* menu_json, bool on_status_item) {
  NM_FN(void (*)(const char*, nm_status_item_fn), fn)
  (menu_json, on_status_item ? nm_status_item_cb : NULL);
}

void nm_call_notification(void* fn, const char* title, const char* body, const char* subtitle,
                          bool silent) {
  NM_FN(void (*)(const char*, const char*, const char*, bool), fn)(title, body, subtitle, silent);
}

int32_t nm_call_run_main_thread(void* fn, const char* identifier, const char* name,
                                const char* channel, int32_t reserved) {
  return NM_FN(int32_t(*)(const char*, const char*, const char*, int32_t), fn)(identifier, name,
                                                                               channel, reserved);
}

void nm_call_set_url_open_handler(void* fn, bool listen) {
  NM_FN(void (*)(nm_string_cb_fn), fn)(listen ? nm_url_open_cb : NULL);
}

void nm_call_set_app_reopen_handler(void* fn, bool listen) {
  NM_FN(void (*)(nm_void_cb_fn), fn)(listen ? nm_app_reopen_cb : NULL);
}

void nm_call_set_quit_requested_handler(void* fn, bool listen) {
  NM_FN(void (*)(nm_void_cb_fn), fn)(listen ? nm_quit_requested_cb : NULL);
}

/* ---- Adapters ---------------------------------------------------------- */

void nm_status_item_cb(uint32_t id, const char* action) {
  nimbrelStatusItemHandler(id, action);
}
void nm_global_shortcut_cb(const char* accelerator) {
  nimbrelGlobalShortcutHandler(accelerator);
}
void nm_url_open_cb(const char* url) {
  nimbrelURLOpenHandler(url);
}
void nm_app_reopen_cb(void) {
  nimbrelAppReopenHandler();
}
void nm_quit_requested_cb(void) {
  nimbrelQuitRequestedHandler();
}

void nm_window_close_cb(uint32_t id) {
  nimbrelWindowCloseHandler(id);
}
void nm_window_move_cb(uint32_t id, double x, double y) {
  nimbrelWindowMoveHandler(id, x, y);
}
void nm_window_resize_cb(uint32_t id, double x, double y, double width, double height) {
  nimbrelWindowResizeHandler(id, x, y, width, height);
}
void nm_window_focus_cb(uint32_t id) {
  nimbrelWindowFocusHandler(id);
}
void nm_window_blur_cb(uint32_t id) {
  nimbrelWindowBlurHandler(id);
}
void nm_window_key_cb(uint32_t id, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  nimbrelWindowKeyHandler(id, a, b, c, d);
}
void nm_window_should_close_cb(uint32_t id) {
  nimbrelWindowShouldCloseHandler(id);
}
uint32_t nm_decide_navigation_cb(uint32_t id, const char* url) {
  return nimbrelDecideNavigationHandler(id, url);
}
void nm_webview_event_cb(uint32_t id, const char* name, const char* detail) {
  nimbrelWebviewEventHandler(id, name, detail);
}
void nm_webview_event_bridge_cb(uint32_t id, const char* message) {
  nimbrelWebviewEventBridgeHandler(id, message);
}
void nm_webview_host_bridge_cb(uint32_t id, const char* message) {
  nimbrelWebviewHostBridgeHandler(id, message);
}
void nm_webview_internal_bridge_cb(uint32_t id, const char* message) {
  nimbrelWebviewInternalBridgeHandler(id, message);
}
