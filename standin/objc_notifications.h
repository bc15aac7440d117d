// The main bundle and the platform's two notification centres, and the
// objects a click on a notification hands their delegates.
#pragma once

#include <objc/runtime.h>

#include <optional>
#include <string>

#include "objc_platform.h"

namespace standin::objc {

inline constexpr const char* kDefaultActionIdentifier =
    "com.apple.UNNotificationDefaultActionIdentifier";
inline constexpr const char* kDismissActionIdentifier =
    "com.apple.UNNotificationDismissActionIdentifier";

// The centre objects, also while a test has made a centre absent.
id centerObject(Center center);

// The texts of a clicked notification; nullopt stands for nil.
struct NotificationTexts {
  std::optional<std::string> title, subtitle, body;
};

// The newer centre's response: response -> notification -> request ->
// content, the chain ending in nil at the link named by `missing` ("response",
// "notification", "request", "content" or "" for none). `action` nullopt
// leaves the action identifier nil; the dismiss action is the framework's
// constant itself. Made in the calling thread's objects.
id newResponse(const NotificationTexts& texts, const std::optional<std::string>& action,
               const std::string& missing);
// The older centre's notification, the body as its informative text.
id newLegacyNotification(const NotificationTexts& texts);

// The notification framework's dismiss-action constant when the process's
// libraries hold it, else a string of the same text.
id dismissActionIdentifier();

}  // namespace standin::objc
