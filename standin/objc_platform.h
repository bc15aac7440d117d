// What the platform's classes answer that a test may choose (the main
// bundle and its identifier, which notification centres exist, whether the
// web engine offers the screen-sharing picker), and what the system did with
// them (the delegates it gave the centres, the features it switched on).
// Guarded by a lock of its own, never held while a message is sent.
#pragma once

#include <objc/runtime.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "json_text.h"

namespace standin::objc {

inline constexpr const char* kScreenPickerFeature = "UseSCContentSharingPicker";

enum class Center { user, legacy };

struct PlatformSettings {
  bool mainBundle = true;
  std::optional<std::string> bundleIdentifier = std::string("work.brovik.dira");
  bool userCenter = true;
  bool legacyCenter = true;
  bool screenPickerFeature = true;
};

PlatformSettings platformSettings();
void changePlatformSettings(const std::function<void(PlatformSettings&)>& change);

void setCenterDelegate(Center center, id delegate);
id centerDelegate(Center center);

void recordFeatureChange(uint32_t window, uint32_t webview, const std::string& feature,
                         bool enabled);

// {"mainBundle","bundleIdentifier","userCenter","legacyCenter",
//  "screenPickerFeature","delegates":{"user"|"legacy":{"class","sets"}},
//  "features":[{"window","webview","feature","enabled"}]}
json platformJson();

// Settings and records back to the start. The centres keep their delegates
// unless `delegatesToo`: the system gives them once per process.
void resetPlatform(bool delegatesToo);

}  // namespace standin::objc
