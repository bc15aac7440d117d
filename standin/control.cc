// The stand-in core's control surface.
//
// In-process C interface (for unit tests that dlopen the library):
//   char* standin_command(const char* json)   runs one command, returns the
//                                             JSON reply; free it with
//   void  standin_free(char* reply)
//   void  standin_run_on_main(void (*fn)(void*), void* ctx)
//                                             queues work for the main-thread
//                                             loop; it runs while a loop runs
//                                             (kept queued until then).
//
// Environment, read when the library loads:
//   NIMBREL_STANDIN_CONTROL  path of a Unix socket created at load time: one
//                            JSON command per line in, one JSON reply per line
//                            out (same commands as standin_command). A socket
//                            file nobody answers on is replaced; a live one of
//                            another process is left alone.
//   NIMBREL_STANDIN_TRACE    "1": one line per core call, callback and control
//                            command on standard error, each starting
//                            "nimbrel-standin: " (long strings shortened; empty
//                            polls of the host-message queue are not traced).
//   NIMBREL_STANDIN_FAIL     a JSON array of commands run at load time, "cmd"
//                            defaulting to "fail", e.g.
//                            [{"fn":"setExitOnLastWindowClosed","error":"no"}].
//
// The bundle's launcher has a stand-in too (standin/launcher/, installed as
// Contents/MacOS/launcher): it starts brovik-work from its own folder with its
// arguments and environment, NIMBREL_LAUNCHER_PID set to its own process id,
// waits in the foreground and ends with the application's status (128 + n
// after signal n). It ignores SIGINT (the terminal's interrupt reaches the
// application itself) and passes SIGTERM and SIGHUP on.
//
// Every reply is {"ok":true,...} or {"ok":false,"error":TEXT}. Ids are the
// core's unsigned 32-bit window, web-view and tray ids.
//
// Callbacks are made on the core's one event thread, never while the
// stand-in's lock is held. A command that makes callbacks waits for them to
// return before it replies. Callbacks that core calls cause (closeWindow,
// showWindow, a frame change...) are made asynchronously; "sync" waits for
// them. A window that takes the focus in createWindow reports it only after
// the creating thread's next core call (or its end, or any command), because
// the system registers the window's callbacks right after createWindow.
// nimbrel_core_run_main_thread returns once the loop has stopped and the
// callbacks on their way have been made.
//
// Where the system gives no more threads: a command that waits for callbacks
// while the event thread cannot be started tries for a few seconds, then is
// refused with "event thread: cannot start a thread: REASON" (the callbacks
// stay queued for the next call that can start it; the loop's end fails the
// same way); a connection that gets no thread is answered with one refusal,
// "control socket: cannot start a thread: REASON", and closed; and so is a
// socket that cannot start its accepting thread.
//
// The core:
//   {"cmd":"calls","fn":NAME|[NAMES]?}  -> {"calls":[{"fn","args",
//        "result"?,"error"?,"failed"?}],"dropped":N}  every exported call in
//        order: strings as strings or null, bools, numbers, pointers and
//        callbacks as the number of their address (0 for NULL). "error" is
//        the last-error text the call left; "failed" marks an injected failure.
//   {"cmd":"clear-calls"}               empties the call and callback logs
//   {"cmd":"deliveries"}                -> {"deliveries":[{"callback","args"}]}
//        the callbacks made, in order: "focus", "blur", "move", "resize",
//        "close", "shouldClose", "key", "decideNavigation", "webviewEvent",
//        "eventBridge", "hostBridge", "internalBridge", "statusItem",
//        "urlOpen", "appReopen", "quitRequested", "globalShortcut", and the
//        notification delegate's "notificationResponse" and
//        "notificationActivated" (see click-notification)
//   {"cmd":"fail","fn":NAME,"error":TEXT|null,"times":N|"always","perform":B}
//        the next call(s) of NAME fail: the last-error text is TEXT ("" when
//        absent; null makes nimbrel_core_last_error answer NULL) and the call
//        returns its failure result (0 id, NULL, false, 0.0, status 1) without
//        doing its work, unless "perform" is true. "times":0 withdraws it.
//        freeCoreString frees the string even when it fails.
//   {"cmd":"reset","handlers":B}        everything back to the start: windows,
//        web views, tray, menus, displays, answers, records, logs, injected
//        failures, a pending loop stop. Waits for callbacks on their way first.
//        The URL-open, reopen, quit and shortcut handlers stay (the system sets
//        them once per load) unless "handlers" is true. Ids keep counting.
//        Does not end a running loop; queued main-thread work stays.
//   {"cmd":"state"}                     -> the whole model: "app" (identity
//        given to the loop), "loop" {"running","runs","stopPending",
//        "queuedWork"}, "exitOnLastWindowClosed" (null until set), "handlers"
//        (addresses, 0 when none), "runtime", "windows" (id, title, frame,
//        styleMask, styleFlags, titleBarStyle, flag1-4, number1-2, visible,
//        active, minimized, maximized, fullScreen, alwaysOnTop,
//        visibleOnAllWorkspaces, buttonPosition, callbacks), "activeWindow",
//        "closedWindows", "webviews" (window, url, renderer, partition,
//        secretKey, preload, viewsRoot, flags, allowedProtocols, callbacks,
//        zoom, navigationRules, scripts, reloads, devToolsOpen,
//        devToolsToggles, history...), "hostQueue" {"pending","unfreed"},
//        "trays" (title, image, option, width, height, menu, menuText...),
//        "applicationMenu", "displays", "displayAnswers", "notifications",
//        "revealedFiles", "openedUrls" [{"url","answer"}], "openedPaths",
//        "failures", "control", "nextIds"... (see state.cc)
//   {"cmd":"sync"}                      waits until every callback on its way
//                                       has been made
//   {"cmd":"next-ids","window":N,"webview":N,"tray":N}  next ids handed out
//   {"cmd":"listen","path":P}           starts the control socket now
//   {"cmd":"trace","on":B}              switches the trace
// Holding core calls (a call that runs while a callback must arrive):
//   {"cmd":"pause","fn":NAME}           the next call of NAME does its work,
//        is logged, then stops inside the core before it returns
//   {"cmd":"wait-paused","fn":NAME,"timeout":MS?}  waits (30000 ms unless
//        given) until a call of NAME is stopped; refused when none was
//   {"cmd":"resume","fn":NAME}          -> {"resumed":"call"|"pause"|null}
//        lets the stopped call(s) of NAME return, or withdraws a pause not
//        reached yet
//   {"cmd":"pauses"}                    -> {"pauses":{NAME:{"armed","paused"}}}
//   Every other command, and the callbacks it makes, goes on while a call is
//   stopped, and callbacks of the stopped call that it holds back for its
//   thread (a new window's focus) are released by the next command as
//   always. A call stopped on the event thread (made from inside a callback)
//   holds back every callback until it is resumed. "reset" leaves pauses
//   alone. To stop a call the system makes during start-up, arm the pause at
//   load time through NIMBREL_STANDIN_FAIL: [{"cmd":"pause","fn":NAME}].
//   {"cmd":"stop-process"}              the whole process stops (SIGSTOP)
//        and replies once continued; at load time ([{"cmd":"stop-process"}])
//        it stops a launch just as it loads the core
// Timing (one monotonic clock, nanoseconds):
//   {"cmd":"stamp-calls","fn":NAME|[NAMES]|null}  from now on, stamps each
//        call of these functions as it comes in; forgets earlier stamps; null
//        or [] stops
//   {"cmd":"stamps","since":K?,"clear":B?}  -> {"stamps":[{"fn","args","t"}],
//        "total":N} the stamps from the K-th on (0 unless given), oldest
//        first, and how many there are; "clear" then forgets them all
//   {"cmd":"post-many","webview":ID,"message":TEXT,"count":N,"from":F?,
//        "via":"both"|"queue"|"host-bridge","every":MICROSECONDS?}
//        N page posts as "post" makes them, message number F (1 unless
//        given) and on, each "${n}" in TEXT replaced by its number; with
//        "every", post i is made i * every microseconds after the first
//        -> {"posted":N,"times":[T...]} the time of each post
// Application events:
//   {"cmd":"quit"}                      quit request: the quit callback only;
//        the core never ends the loop itself (SIGINT and SIGTERM do the same
//        while the loop runs)
//   {"cmd":"open-url","url":TEXT|null}  {"cmd":"reopen"}
//   {"cmd":"shortcut","accelerator":A}  the global-shortcut callback
//   Each replies {"delivered":B}: false when nobody listens.
// Windows (the user's actions):
// Style masks: style flag n of getWindowStyle is bit n - 1. createWindow:
// Flag2 starts the window hidden, Flag3 lets a shown window take the focus,
// Flag4 centres it on the primary display's work area. showWindow's flag
// asks for the focus too. A minimised window is not visible to
// isWindowVisible. The default display: 1440 x 900 at scale 2, work area
// below a 25-pixel menu bar; frames and work areas share one coordinate
// space (origin top left, y downwards).
//   {"cmd":"click-close","window":ID}   the close button: should-close only,
//                                       the window stays open
//   {"cmd":"close-window","window":ID}  the window goes without asking: the
//                                       close callback, as closeWindow makes it
//   {"cmd":"focus","window":ID}         blur of the old, focus of the new
//   {"cmd":"blur"}                      the focused window loses the focus
//   {"cmd":"move-window","window":ID,"x":X,"y":Y}
//   {"cmd":"resize-window","window":ID,"width":W,"height":H,"x"?,"y"?}
//   {"cmd":"minimize-window","window":ID}  the user minimises it
//   {"cmd":"key","window":ID,"a","b","c","d"}  the key callback
// Web views (the page's actions):
//   {"cmd":"post","webview":ID,"message":TEXT,"via":V}  a page post; V is
//        "both" (default: queued, then the host-bridge callback), "queue",
//        "host-bridge", "event-bridge" or "internal-bridge"
//   {"cmd":"navigate","webview":ID,"url":U,"form":"object"|"text"}
//        a rule match is not carried out: "will-navigate" {"allowed":false,
//        "url":U}. Otherwise the decide-navigation callback is asked (1 or no
//        callback allows); an allowed navigation updates the address and
//        history and reports "did-navigate" and "did-commit-navigation" with
//        {"url":U} (or U as plain text with "form":"text").
//        -> {"outcome":"navigated"|"blocked-by-rule"|"refused"}
//   {"cmd":"new-window","webview":ID,"url":U,"form":...}  "new-window-open"
//   {"cmd":"download","webview":ID,"success":B,"filename"?,"destinationPath"?}
//        "download-completed" / "download-failed" with the given members
//   {"cmd":"webview-event","webview":ID,"event":NAME,"detail":TEXT}  any event
//   {"cmd":"scripts","webview":ID}      -> {"scripts":[...]} evaluated, in order
//   {"cmd":"clear-scripts","webview":ID}
// Navigation rules (setWebviewNavigationRules) are a JSON array of patterns:
// "*" matches any run of characters, a leading "^" anchors at the start of
// the address (else it may match anywhere); ASCII letters match regardless of
// case; the pattern must reach the end of the address.
// Tray, menus, displays, services:
//   {"cmd":"pick-tray","tray":ID?,"action":A|"label":L}  an item of the tray
//        menu (first tray when no id): the tray's status-item callback with
//        (tray id, the item's action). Dividers, disabled items and unknown
//        items are refused.
//   {"cmd":"pick-menu","action":A|"label":L}  an application-menu item: the
//        status-item callback with (0, action); an item with a "role" and no
//        action is carried out by the core: "quit" requests a quit, "close"
//        clicks the focused window's close button, "minimize" minimises it,
//        "zoom" toggles its maximised state; others are only recorded.
//   {"cmd":"set-displays","displays":[...]}  the display list, one primary
//   {"cmd":"display-answer","fn":"getPrimaryDisplay"|"getAllDisplays",
//        "null":true,"error":TEXT?} | "text":T | neither (back to the list)
//   {"cmd":"open-external-answer","answer":B}  what openExternal answers
// The platform around the core, for the system's platform glue: classes
// registered with the process's one object runtime (libobjc) under the names
// the glue looks up: NSObject (alloc, init, respondsToSelector:,
// isKindOfClass:), NSString (UTF8String), NSArray (count, objectAtIndex:),
// NSBundle, UNUserNotificationCenter and its response, notification, request
// and content, NSUserNotificationCenter and NSUserNotification,
// NSApplication (sharedApplication, windows), NSWindow (contentView), NSView
// (subviews), WKWebView (configuration), WKWebViewConfiguration
// (preferences), WKPreferences (_features, _setEnabled:forFeature:) and
// _WKFeature (key). NSApplication's windows mirror the model's windows, in id
// order: each window's contentView holds a plain view that holds the
// window's web views. The dismiss-action constant and the main dispatch
// queue belong to the dispatch library the executable links; work queued on
// that queue runs on the event loop's main thread, and the objects the
// classes answered with during a turn of the loop go at its end.
//   {"cmd":"platform","mainBundle":B?,"bundleIdentifier":T|null?,
//        "userCenter":B?,"legacyCenter":B?,"screenPickerFeature":B?}
//        changes what is given; by default a main bundle with the identifier
//        "work.brovik.dira", both centres, and the feature
//        "UseSCContentSharingPicker" among the engine's features. An absent
//        centre's accessor answers nil (a runtime cannot take a class back).
//        -> {"platform":{the five settings,"delegates":{"user"|"legacy":
//        {"class":NAME|null,"sets":N}},"features":[{"window","webview",
//        "feature","enabled"}]}}: the delegate each centre holds and how many
//        setDelegate: it received, and every _setEnabled:forFeature: that a
//        web view's preferences received, in order. "reset" restores the
//        settings and empties the records; the centres keep their delegates
//        (given once per process) unless "handlers" is true.
//   {"cmd":"click-notification","center":"user"|"legacy","title":T,
//        "subtitle":S,"body":B,"action":A,"missing":LINK?,
//        "completionHandler":B?}  the user clicks a notification in the newer
//        centre ("user", the default) or the older one ("legacy"), and the
//        centre's delegate method is called on the event thread. Null or
//        missing texts, and a null "action", are nil. "action" defaults to
//        the default action; "dismiss" dismisses the notification (the
//        framework's dismiss-action constant). The older centre carries the
//        body as informativeText and has no action. "missing" ends the chain
//        response -> notification -> request -> content in nil at that link
//        (the older centre: "notification" only); "completionHandler":false
//        passes none. -> {"delivered":D,"completed":C}: whether a delegate
//        method was called, and whether it called the completion handler.
//   {"cmd":"drain-main-queue","timeout":MS?}  waits (30000 ms unless given)
//        until the work queued on the main dispatch queue before it has run;
//        refused when the loop does not serve the queue by then, on the main
//        thread, and in a process without the dispatch library
#include <cstdlib>
#include <cstring>

#include "calls.h"
#include "commands.h"
#include "commands_platform.h"
#include "events.h"
#include "export.h"
#include "harness_commands.h"
#include "main_loop.h"
#include "trace.h"

namespace standin {

namespace {

const CommandTable& commandTable() {
  static const CommandTable* table = [] {
    auto* made = new CommandTable;
    addAppCommands(*made);
    addWindowCommands(*made);
    addWebviewCommands(*made);
    addDesktopCommands(*made);
    addPauseCommands(*made);
    addTimelineCommands(*made);
    addPlatformCommands(*made);  // after addAppCommands: it extends "reset"
    return made;
  }();
  return *table;
}

json refusal(const std::string& error) {
  return {{"ok", false}, {"error", error}};
}

char* copyOut(const std::string& text) {
  char* out = static_cast<char*>(malloc(text.size() + 1));
  if (out) memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

void applyLoadTimeCommands(const char* text) {
  json commands = json::parse(text, nullptr, false);
  if (commands.is_discarded() || !commands.is_array()) {
    writeStderrLine("NIMBREL_STANDIN_FAIL is not a JSON array of commands");
    return;
  }
  for (json cmd : commands) {
    if (cmd.is_object() && !cmd.contains("cmd")) cmd["cmd"] = "fail";
    json reply = runCommand(cmd);
    if (!reply.value("ok", false)) {
      writeStderrLine("NIMBREL_STANDIN_FAIL: " + dumpJson(cmd) + ": " +
                      reply.value("error", std::string()));
    }
  }
}

__attribute__((constructor)) void onLoad() {
  const char* trace = getenv("NIMBREL_STANDIN_TRACE");
  if (trace && strcmp(trace, "1") == 0) setTrace(true);
  if (const char* failures = getenv("NIMBREL_STANDIN_FAIL"); failures && *failures) {
    applyLoadTimeCommands(failures);
  }
  if (const char* path = getenv("NIMBREL_STANDIN_CONTROL"); path && *path) {
    std::string error;
    if (!startControlSocket(path, error)) writeStderrLine(error);
  }
}

}  // namespace

json runCommand(const json& cmd) {
  // Whatever a thread still holds back is made first, so a command sees the
  // callbacks of every call that returned before it.
  releaseAllHeldDeliveries();
  try {
    if (!cmd.is_object()) return refusal("a command must be a JSON object");
    auto name = cmd.find("cmd");
    if (name == cmd.end() || !name->is_string()) return refusal("missing \"cmd\"");
    traceLine("control " + dumpJson(cmd));
    const CommandTable& table = commandTable();
    auto handler = table.find(name->get<std::string>());
    if (handler == table.end()) return refusal("unknown command " + name->get<std::string>());
    json reply = handler->second(cmd);
    json out = {{"ok", true}};
    for (auto& [key, value] : reply.items()) out[key] = value;
    return out;
  } catch (const CommandError& e) {
    return refusal(e.what());
  } catch (const DeliveryError& e) {
    return refusal(e.what());
  } catch (const std::exception& e) {
    return refusal(std::string("bad command: ") + e.what());
  }
}

std::string runCommandText(const std::string& text) {
  json cmd = json::parse(text, nullptr, false);
  if (cmd.is_discarded()) return dumpJson(refusal("a command must be one JSON object"));
  return dumpJson(runCommand(cmd));
}

}  // namespace standin

STANDIN_EXPORT char* standin_command(const char* text) {
  if (!text) return standin::copyOut(standin::dumpJson(standin::refusal("no command")));
  return standin::copyOut(standin::runCommandText(text));
}

STANDIN_EXPORT void standin_free(char* reply) {
  free(reply);
}

STANDIN_EXPORT void standin_run_on_main(void (*fn)(void*), void* ctx) {
  if (!fn) return;
  standin::postToMainLoop([fn, ctx] { fn(ctx); });
}
