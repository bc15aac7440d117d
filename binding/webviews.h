// What describes a web view to create, and two ready-made callbacks for it.
// What the core does with the renderer, the partition, the key, the views
// root and the flags is the core's; the binding hands them through.
#pragma once

#include <cstdint>
#include <string>

#include "binding/callbacks.h"
#include "binding/geometry.h"

namespace nimbrel {

struct WebviewOptions {
  uint32_t WindowID = 0;  // the window that receives the web view
  uint32_t SecondID = 0;
  std::string Renderer;
  std::string URL;  // the first page
  Rect Frame;       // inside the window
  bool ViewFlag = false;
  std::string Partition;
  std::string SecretKey;
  std::string Preload;  // the text of the preload script
  std::string ViewsRoot;
  // The two arguments of setNextWebviewAllowedProtocols, made right before the
  // web view is created.
  bool AllowProtocol1 = false;
  bool AllowProtocol2 = false;
  bool Flag1 = false;
  bool Flag2 = false;
  bool Flag3 = false;
  bool Flag4 = false;
  // Decides which adapters the core receives; registered under the new id.
  WebviewCallbacks Callbacks;
};

// Renderer "native", ViewFlag and AllowProtocol1 set; everything else false, 0
// or empty.
WebviewOptions NewWebviewOptions(uint32_t windowId, const std::string& url, const Rect& frame);

// Allows every navigation.
uint32_t AllowAllNavigation(uint32_t webviewId, const std::string& url);
// Ignores the message. Setting it still makes the core deliver the messages.
void NoopWebviewPostMessage(uint32_t webviewId, const std::string& message);

// One message that a page posted to the application.
struct HostMessage {
  uint32_t WebviewID = 0;
  std::string Message;
  bool operator==(const HostMessage&) const = default;
};

}  // namespace nimbrel
