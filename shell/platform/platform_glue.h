/* The shell's glue to the platform's object runtime, in C: the notification
 * delegate and the screen-sharing picker. Both only queue their work on the
 * main dispatch queue and return at once. */
#ifndef BK_SHELL_PLATFORM_GLUE_H
#define BK_SHELL_PLATFORM_GLUE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Installs the delegate that reports notification clicks, at most once per
 * process, and only when the main bundle has an identifier. */
void bkInstallNotificationDelegate(void);

/* Switches the platform's screen-sharing picker on in every web view of every
 * window, when the web engine offers it. */
void bkEnableScreenPicker(void);

/* The shell's entry point for a clicked notification (notify_export_darwin.cc).
 * Null texts read as empty. */
void bkNotificationClicked(const char* title, const char* subtitle, const char* body);

#ifdef __cplusplus
}
#endif

#endif
