/* The C helper layer: the only code that calls the core library's functions
 * or the dynamic loader. Each call helper takes the core function's entry
 * point first, then its arguments in the core's order, and returns the core's
 * result unchanged. No helper copies, keeps or frees a string. Where the core
 * takes a callback, the helper takes a flag and passes the matching adapter or
 * NULL. */
#ifndef BK_BINDING_NM_HELPERS_H
#define BK_BINDING_NM_HELPERS_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Loader. */
void* nm_dlopen(const char* path);
void* nm_dlsym(void* handle, const char* name);
const char* nm_dlerror(void);

/* The path by which the process was started, as given to exec, and the
 * working directory at the moment the process started (NULL when unknown). */
const char* nm_started_executable_path(void);
const char* nm_start_directory(void);
int nm_start_directory_errno(void);

/* Call helpers, named by the shape of the core function they call. */
void nm_call_void(void* fn);
void nm_call_bool(void* fn, bool a);
void nm_call_bool_bool(void* fn, bool a, bool b);
void nm_call_u32(void* fn, uint32_t id);
void nm_call_u32_bool(void* fn, uint32_t id, bool a);
bool nm_call_u32_bool_ret(void* fn, uint32_t id);
void nm_call_u32_f64(void* fn, uint32_t id, double a);
void nm_call_u32_f64_f64(void* fn, uint32_t id, double a, double b);
double nm_call_u32_f64_ret(void* fn, uint32_t id);
void nm_call_u32_string(void* fn, uint32_t id, const char* s);
void nm_call_string(void* fn, const char* s);
bool nm_call_string_bool_ret(void* fn, const char* s);
char* nm_call_string_ret(void* fn);
const char* nm_call_last_error(void* fn);
void nm_call_free_core_string(void* fn, char* s);
char* nm_call_pop_host_message(void* fn, uint32_t* webview_id);
void nm_call_get_window_frame(void* fn, uint32_t id, double* x, double* y, double* width,
                              double* height);
uint32_t nm_call_get_window_style(void* fn, bool f1, bool f2, bool f3, bool f4, bool f5, bool f6,
                                  bool f7, bool f8, bool f9, bool f10, bool f11, bool f12);
uint32_t nm_call_create_window(void* fn, double x, double y, double width, double height,
                               uint32_t style_mask, const char* title_bar_style, bool flag1,
                               const char* title, bool flag2, bool flag3, bool flag4,
                               double number1, double number2, bool on_close, bool on_move,
                               bool on_resize, bool on_focus, bool on_blur, bool on_key,
                               bool on_should_close);
uint32_t nm_call_create_webview(void* fn, uint32_t window_id, uint32_t second_id,
                                const char* renderer, const char* url, double x, double y,
                                double width, double height, bool view_flag, const char* partition,
                                bool on_decide_navigation, bool on_event, bool on_event_bridge,
                                bool on_host_bridge, bool on_internal_bridge,
                                const char* secret_key, const char* preload, const char* views_root,
                                bool flag1, bool flag2, bool flag3, bool flag4);
bool nm_call_configure_webview_runtime(void* fn, uint32_t number, const char* full_preload,
                                       const char* sandboxed_preload);
uint32_t nm_call_create_tray(void* fn, const char* title, const char* image, bool option,
                             uint32_t width, uint32_t height, bool on_status_item);
void nm_call_menu(void* fn, const char* menu_json, bool on_status_item);
void nm_call_notification(void* fn, const char* title, const char* body, const char* subtitle,
                          bool silent);
int32_t nm_call_run_main_thread(void* fn, const char* identifier, const char* name,
                                const char* channel, int32_t reserved);
void nm_call_set_url_open_handler(void* fn, bool listen);
void nm_call_set_app_reopen_handler(void* fn, bool listen);
void nm_call_set_quit_requested_handler(void* fn, bool listen);

/* Adapters: plain C functions of the core's callback types. Each forwards to
 * the exported entry point of the same event. */
void nm_status_item_cb(uint32_t id, const char* action);
void nm_global_shortcut_cb(const char* accelerator);
void nm_url_open_cb(const char* url);
void nm_app_reopen_cb(void);
void nm_quit_requested_cb(void);

void nm_window_close_cb(uint32_t id);
void nm_window_move_cb(uint32_t id, double x, double y);
void nm_window_resize_cb(uint32_t id, double x, double y, double width, double height);
void nm_window_focus_cb(uint32_t id);
void nm_window_blur_cb(uint32_t id);
void nm_window_key_cb(uint32_t id, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
void nm_window_should_close_cb(uint32_t id);
uint32_t nm_decide_navigation_cb(uint32_t id, const char* url);
void nm_webview_event_cb(uint32_t id, const char* name, const char* detail);
void nm_webview_event_bridge_cb(uint32_t id, const char* message);
void nm_webview_host_bridge_cb(uint32_t id, const char* message);
void nm_webview_internal_bridge_cb(uint32_t id, const char* message);

/* Entry points exported by the executable, with C linkage. */
void nimbrelStatusItemHandler(uint32_t id, const char* action);
void nimbrelGlobalShortcutHandler(const char* accelerator);
void nimbrelURLOpenHandler(const char* url);
void nimbrelAppReopenHandler(void);
void nimbrelQuitRequestedHandler(void);

void nimbrelWindowCloseHandler(uint32_t id);
void nimbrelWindowMoveHandler(uint32_t id, double x, double y);
void nimbrelWindowResizeHandler(uint32_t id, double x, double y, double width, double height);
void nimbrelWindowFocusHandler(uint32_t id);
void nimbrelWindowBlurHandler(uint32_t id);
void nimbrelWindowKeyHandler(uint32_t id, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
void nimbrelWindowShouldCloseHandler(uint32_t id);
uint32_t nimbrelDecideNavigationHandler(uint32_t id, const char* url);
void nimbrelWebviewEventHandler(uint32_t id, const char* name, const char* detail);
void nimbrelWebviewEventBridgeHandler(uint32_t id, const char* message);
void nimbrelWebviewHostBridgeHandler(uint32_t id, const char* message);
void nimbrelWebviewInternalBridgeHandler(uint32_t id, const char* message);

#ifdef __cplusplus
}
#endif

#endif
