/* The loader and call glue for the core functions that the binding does not
 * resolve: the tray menu and tray image. Plain C, private to the shell. */
#ifndef BK_SHELL_PLATFORM_TRAY_EXT_H
#define BK_SHELL_PLATFORM_TRAY_EXT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the library with immediate binding and global scope; NULL when it
 * cannot be opened. */
void* bk_open(const char* path);
/* The entry point named `name`, or NULL. */
void* bk_sym(void* handle, const char* name);
/* Call `fn` as void fn(uint32_t, const char*). */
void bk_set_tray_menu(void* fn, uint32_t id, const char* json);
void bk_set_tray_image(void* fn, uint32_t id, const char* s);

#ifdef __cplusplus
}
#endif

#endif
