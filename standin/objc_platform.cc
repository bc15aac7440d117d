#include "objc_platform.h"

#include <mutex>
#include <vector>

namespace standin::objc {

namespace {

struct CenterRecord {
  id delegate = nil;
  uint64_t sets = 0;  // setDelegate: messages received
};

struct Platform {
  std::mutex mu;
  PlatformSettings settings;
  CenterRecord user, legacy;
  std::vector<json> features;

  CenterRecord& of(Center center) { return center == Center::user ? user : legacy; }
};

Platform& platform() {
  static Platform* p = new Platform;
  return *p;
}

json centerJson(const CenterRecord& record) {
  return {{"class", record.delegate ? json(object_getClassName(record.delegate)) : json(nullptr)},
          {"sets", record.sets}};
}

}  // namespace

PlatformSettings platformSettings() {
  std::lock_guard lock(platform().mu);
  return platform().settings;
}

void changePlatformSettings(const std::function<void(PlatformSettings&)>& change) {
  std::lock_guard lock(platform().mu);
  change(platform().settings);
}

void setCenterDelegate(Center center, id delegate) {
  std::lock_guard lock(platform().mu);
  CenterRecord& record = platform().of(center);
  record.delegate = delegate;
  ++record.sets;
}

id centerDelegate(Center center) {
  std::lock_guard lock(platform().mu);
  return platform().of(center).delegate;
}

void recordFeatureChange(uint32_t window, uint32_t webview, const std::string& feature,
                         bool enabled) {
  std::lock_guard lock(platform().mu);
  platform().features.push_back(
      {{"window", window}, {"webview", webview}, {"feature", feature}, {"enabled", enabled}});
}

json platformJson() {
  Platform& p = platform();
  std::lock_guard lock(p.mu);
  const PlatformSettings& s = p.settings;
  return {{"mainBundle", s.mainBundle},
          {"bundleIdentifier", s.bundleIdentifier ? json(*s.bundleIdentifier) : json(nullptr)},
          {"userCenter", s.userCenter},
          {"legacyCenter", s.legacyCenter},
          {"screenPickerFeature", s.screenPickerFeature},
          {"delegates", {{"user", centerJson(p.user)}, {"legacy", centerJson(p.legacy)}}},
          {"features", p.features}};
}

void resetPlatform(bool delegatesToo) {
  Platform& p = platform();
  std::lock_guard lock(p.mu);
  p.settings = PlatformSettings{};
  p.features.clear();
  p.user.sets = 0;
  p.legacy.sets = 0;
  if (delegatesToo) {
    p.user.delegate = nil;
    p.legacy.delegate = nil;
  }
}

}  // namespace standin::objc
