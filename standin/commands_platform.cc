#include "commands_platform.h"

#include <dlfcn.h>
#include <objc/message.h>
#include <objc/runtime.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "events.h"
#include "objc_notifications.h"
#include "objc_objects.h"
#include "objc_platform.h"

namespace standin {

namespace {

using objc::Center;

constexpr const char* kDidReceiveResponse =
    "userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:";
constexpr const char* kDidActivateNotification = "userNotificationCenter:didActivateNotification:";

// A completion handler in the published block layout; its one captured
// variable records the call.
struct BlockDescriptor {
  unsigned long reserved;
  unsigned long size;
};

struct CompletionBlock;
void completeBlock(CompletionBlock* block);
const BlockDescriptor kCompletionDescriptor = {0, 0};

struct CompletionBlock {
  void* isa = nullptr;
  int32_t flags = 0;
  int32_t reserved = 0;
  void (*invoke)(CompletionBlock*) = completeBlock;
  const BlockDescriptor* descriptor = &kCompletionDescriptor;
  bool called = false;
};

void completeBlock(CompletionBlock* block) {
  block->called = true;
}

std::optional<bool> givenBool(const json& cmd, const char* key) {
  if (!cmd.contains(key)) return std::nullopt;
  return optBool(cmd, key, false);
}

json platform(const json& cmd) {
  // Read whole before anything changes, so a refused member changes nothing.
  std::optional<bool> mainBundle = givenBool(cmd, "mainBundle");
  std::optional<bool> userCenter = givenBool(cmd, "userCenter");
  std::optional<bool> legacyCenter = givenBool(cmd, "legacyCenter");
  std::optional<bool> feature = givenBool(cmd, "screenPickerFeature");
  bool identifierGiven = cmd.contains("bundleIdentifier");
  std::optional<std::string> identifier = optString(cmd, "bundleIdentifier");
  objc::changePlatformSettings([&](objc::PlatformSettings& s) {
    if (mainBundle) s.mainBundle = *mainBundle;
    if (identifierGiven) s.bundleIdentifier = identifier;
    if (userCenter) s.userCenter = *userCenter;
    if (legacyCenter) s.legacyCenter = *legacyCenter;
    if (feature) s.screenPickerFeature = *feature;
  });
  return {{"platform", objc::platformJson()}};
}

json optionalText(const std::optional<std::string>& text) {
  return text ? json(*text) : json(nullptr);
}

// What the user's click or dismissal gives the centre's delegate.
struct Click {
  Center center = Center::user;
  objc::NotificationTexts texts;
  std::optional<std::string> action;  // nullopt: nil
  std::string missing;
  bool completionHandler = true;
};

Click readClick(const json& cmd) {
  Click click;
  std::string center = optString(cmd, "center").value_or("user");
  if (center == "legacy") {
    click.center = Center::legacy;
  } else if (center != "user") {
    throw CommandError("\"center\" must be \"user\" or \"legacy\"");
  }
  click.texts = {optString(cmd, "title"), optString(cmd, "subtitle"), optString(cmd, "body")};
  click.action = objc::kDefaultActionIdentifier;
  if (auto action = cmd.find("action"); action != cmd.end()) {
    click.action = optString(cmd, "action");
    if (click.action == "dismiss") click.action = objc::kDismissActionIdentifier;
  }
  click.missing = optString(cmd, "missing").value_or("");
  bool known =
      click.missing.empty() || click.missing == "notification" ||
      (click.center == Center::user &&
       (click.missing == "response" || click.missing == "request" || click.missing == "content"));
  if (!known) throw CommandError("nothing called \"" + click.missing + "\" can be missing here");
  click.completionHandler = optBool(cmd, "completionHandler", true);
  return click;
}

json clickNotification(const json& cmd) {
  Click click = readClick(cmd);
  objc::PlatformSettings settings = objc::platformSettings();
  bool present = click.center == Center::user ? settings.userCenter : settings.legacyCenter;
  id delegate = present ? objc::centerDelegate(click.center) : nil;
  SEL method = sel_registerName(click.center == Center::user ? kDidReceiveResponse
                                                             : kDidActivateNotification);
  if (!delegate || !class_respondsToSelector(object_getClass(delegate), method)) {
    return {{"delivered", false}, {"completed", false}};
  }

  // The objects the click hands over live until the delegate has returned.
  objc::ObjectScope scope;
  id center = objc::centerObject(click.center);
  json args = json::array({optionalText(click.texts.title), optionalText(click.texts.subtitle),
                           optionalText(click.texts.body)});
  CompletionBlock block;
  IMP imp = objc_msg_lookup(delegate, method);
  if (click.center == Center::user) {
    id response = objc::newResponse(click.texts, click.action, click.missing);
    args.push_back(optionalText(click.action));
    CompletionBlock* handler = click.completionHandler ? &block : nullptr;
    auto call = reinterpret_cast<void (*)(id, SEL, id, id, CompletionBlock*)>(
        reinterpret_cast<void (*)()>(imp));
    deliverNow({{"notificationResponse", args,
                 [=] { call(delegate, method, center, response, handler); }}});
  } else {
    id notification =
        click.missing == "notification" ? nil : objc::newLegacyNotification(click.texts);
    auto call = reinterpret_cast<void (*)(id, SEL, id, id)>(reinterpret_cast<void (*)()>(imp));
    deliverNow(
        {{"notificationActivated", args, [=] { call(delegate, method, center, notification); }}});
  }
  return {{"delivered", true}, {"completed", block.called}};
}

// A mark queued on the main dispatch queue; whoever queued it waits for it.
struct QueueMark {
  std::mutex mu;
  std::condition_variable reached;
  bool ran = false;
};

void reachMark(void* context) {
  // Owned by the queue: the waiter may have given up.
  auto* mark = static_cast<std::shared_ptr<QueueMark>*>(context);
  {
    std::lock_guard lock((*mark)->mu);
    (*mark)->ran = true;
  }
  (*mark)->reached.notify_all();
  delete mark;
}

json drainMainQueue(const json& cmd) {
  using AsyncFn = void (*)(void*, void*, void (*)(void*));
  void* queue = dlsym(RTLD_DEFAULT, "_dispatch_main_q");
  void* asyncSymbol = dlsym(RTLD_DEFAULT, "dispatch_async_f");
  if (!queue || !asyncSymbol) throw CommandError("this process has no main dispatch queue");
  if (gettid() == getpid()) throw CommandError("the main thread cannot wait for its own queue");
  AsyncFn async = nullptr;
  std::memcpy(&async, &asyncSymbol, sizeof async);

  auto mark = std::make_shared<QueueMark>();
  async(queue, new std::shared_ptr<QueueMark>(mark), reachMark);
  auto timeout = std::chrono::milliseconds(static_cast<int64_t>(optNumber(cmd, "timeout", 30000)));
  std::unique_lock lock(mark->mu);
  if (!mark->reached.wait_for(lock, timeout, [&] { return mark->ran; })) {
    throw CommandError("the main dispatch queue was not served (is the event loop running?)");
  }
  return json::object();
}

}  // namespace

void addPlatformCommands(CommandTable& table) {
  table["platform"] = platform;
  table["click-notification"] = clickNotification;
  table["drain-main-queue"] = drainMainQueue;

  auto coreReset = table.find("reset");
  if (coreReset != table.end()) {
    table["reset"] = [resetCore = coreReset->second](const json& cmd) {
      json reply = resetCore(cmd);
      objc::resetPlatform(optBool(cmd, "handlers", false));
      return reply;
    };
  }
}

}  // namespace standin
