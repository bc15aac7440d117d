// The application's windows as the platform's view trees, and the web
// engine's preferences with their private feature switches. The trees are
// made afresh from the model at every "windows" message, so they always
// mirror the stand-in's windows and web views.
#include <mutex>
#include <string>
#include <vector>

#include "objc_classes.h"
#include "objc_objects.h"
#include "objc_platform.h"
#include "state.h"
#include "trace.h"

namespace standin::objc {

namespace {

struct WindowViews {
  uint32_t window = 0;
  std::vector<uint32_t> webviews;
};

std::vector<WindowViews> windowViews() {
  Model& m = model();
  std::lock_guard lock(m.mu);
  std::vector<WindowViews> out;
  for (const auto& [id, window] : m.windows) {
    WindowViews views{id, {}};
    for (const auto& [viewId, view] : m.webviews) {
      if (view.window == id) views.webviews.push_back(viewId);
    }
    out.push_back(std::move(views));
  }
  return out;
}

id newWebView(uint32_t window, uint32_t webview) {
  ObjectData preferences;
  preferences.window = window;
  preferences.webview = webview;
  ObjectData configuration;
  configuration.members["preferences"] = newObject(classes().preferences, preferences);
  ObjectData view;
  view.members["configuration"] = newObject(classes().webViewConfiguration, configuration);
  view.members["subviews"] = newArray({});
  return newObject(classes().webView, view);
}

// The content view holds a plain view that holds the window's web views, so
// that finding them takes a walk through the tree.
id newContentView(const WindowViews& views) {
  std::vector<id> webViews;
  for (uint32_t webview : views.webviews) webViews.push_back(newWebView(views.window, webview));
  ObjectData container;
  container.members["subviews"] = newArray(std::move(webViews));
  ObjectData content;
  content.members["subviews"] = newArray({newObject(classes().view, container)});
  return newObject(classes().view, content);
}

id newFeature(const char* key) {
  ObjectData feature;
  if (key) feature.members["key"] = newString(key);
  return newObject(classes().feature, feature);
}

// ---- Methods ------------------------------------------------------------------

id sharedApplicationImp(id, SEL) {
  static const id application = keptObject(classes().application, {});
  return application;
}

id windowsImp(id, SEL) {
  std::vector<id> windows;
  for (const WindowViews& views : windowViews()) {
    ObjectData window;
    window.members["contentView"] = newContentView(views);
    windows.push_back(newObject(classes().window, window));
  }
  return newArray(std::move(windows));
}

id featuresImp(id, SEL) {
  // Not every entry of the engine's list is a named feature: an object of
  // another kind and a feature without a key come first, to be passed over.
  std::vector<id> features = {newString("not a feature"), newFeature(nullptr),
                              newFeature("WebGPUEnabled")};
  if (platformSettings().screenPickerFeature) features.push_back(newFeature(kScreenPickerFeature));
  features.push_back(newFeature("UseGPUProcessForMediaEnabled"));
  return newArray(std::move(features));
}

void setEnabledForFeatureImp(id self, SEL, BOOL enabled, id feature) {
  ObjectData* preferences = dataOf(self);
  const char* key = nullptr;
  if (feature && object_getClass(feature) == classes().feature) {
    auto member = dataOf(feature)->members.find("key");
    if (member != dataOf(feature)->members.end()) key = textOf(member->second);
  }
  uint32_t window = preferences ? preferences->window : 0;
  uint32_t webview = preferences ? preferences->webview : 0;
  recordFeatureChange(window, webview, key ? key : "", enabled != NO);
  traceLine("WKPreferences _setEnabled:" + std::string(enabled ? "YES" : "NO") +
            " forFeature:" + (key ? key : "nil") + " (web view " + std::to_string(webview) + ")");
}

}  // namespace

void defineViewClasses(Classes& out) {
  Class root = out.object;
  out.application = defineClass("NSApplication", root, [](Class cls) {
    addClassMethod(cls, "sharedApplication", asImp(sharedApplicationImp), "@@:");
    addMethod(cls, "windows", asImp(windowsImp), "@@:");
  });
  out.window = defineClass("NSWindow", root, [](Class cls) { addGetters(cls, {"contentView"}); });
  out.view = defineClass("NSView", root, [](Class cls) { addGetters(cls, {"subviews"}); });
  out.webView =
      defineClass("WKWebView", out.view, [](Class cls) { addGetters(cls, {"configuration"}); });
  out.webViewConfiguration = defineClass("WKWebViewConfiguration", root,
                                         [](Class cls) { addGetters(cls, {"preferences"}); });
  out.preferences = defineClass("WKPreferences", root, [](Class cls) {
    addClassMethod(cls, "_features", asImp(featuresImp), "@@:");
    addMethod(cls, "_setEnabled:forFeature:", asImp(setEnabledForFeatureImp), "v@:c@");
  });
  out.feature = defineClass("_WKFeature", root, [](Class cls) { addGetters(cls, {"key"}); });
}

}  // namespace standin::objc
