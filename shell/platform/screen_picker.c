/* Switches the platform's screen-sharing picker on in the application's web
 * views, through a private switch of the web engine's preferences. */
#include <dispatch/dispatch.h>
#include <objc/runtime.h>
#include <stddef.h>
#include <string.h>

#include "shell/platform/objc_send.h"
#include "shell/platform/platform_glue.h"

static const char kPickerFeature[] = "UseSCContentSharingPicker";

/* The engine's feature of that name, or nil when it offers none. */
static id bkPickerFeature(Class preferencesClass) {
  if (!bk_responds((id)preferencesClass, "_features")) return nil;
  id features = bk_send((id)preferencesClass, "_features");
  if (!features) return nil;
  unsigned long count = bk_count(features);
  for (unsigned long i = 0; i < count; ++i) {
    id feature = bk_object_at(features, i);
    if (!feature || !bk_responds(feature, "key")) continue;
    const char* key = bk_utf8(bk_send(feature, "key"));
    if (key && strcmp(key, kPickerFeature) == 0) return feature;
  }
  return nil;
}

/* Depth first: a web view gets the feature and is not looked into; any other
 * view has its subviews walked in order. */
static void bkEnablePickerInView(id view, Class webViewClass, id feature) {
  if (!view) return;
  if (bk_is_kind_of(view, webViewClass)) {
    id preferences = bk_send(bk_send(view, "configuration"), "preferences");
    if (preferences && bk_responds(preferences, "_setEnabled:forFeature:")) {
      bk_send_flag_id(preferences, "_setEnabled:forFeature:", YES, feature);
    }
    return;
  }
  id subviews = bk_send(view, "subviews");
  unsigned long count = bk_count(subviews);
  for (unsigned long i = 0; i < count; ++i) {
    bkEnablePickerInView(bk_object_at(subviews, i), webViewClass, feature);
  }
}

static void bkEnableScreenPickerOnMain(void* context) {
  (void)context;
  Class webViewClass = objc_getClass("WKWebView");
  Class preferencesClass = objc_getClass("WKPreferences");
  if (!preferencesClass) return;
  id feature = bkPickerFeature(preferencesClass);
  if (!feature || !webViewClass) return;

  Class applicationClass = objc_getClass("NSApplication");
  if (!applicationClass) return;
  id application = bk_send((id)applicationClass, "sharedApplication");
  id windows = application ? bk_send(application, "windows") : nil;
  if (!windows) return;
  unsigned long count = bk_count(windows);
  for (unsigned long i = 0; i < count; ++i) {
    bkEnablePickerInView(bk_send(bk_object_at(windows, i), "contentView"), webViewClass, feature);
  }
}

void bkEnableScreenPicker(void) {
  dispatch_async_f(dispatch_get_main_queue(), NULL, bkEnableScreenPickerOnMain);
}
