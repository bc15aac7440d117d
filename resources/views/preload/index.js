// The page side of the host bridge. The host replaces the placeholder below
// with this launch's configuration before the script reaches a page.
(function () {
  "use strict";
  var text = "__BK_DESKTOP_CONFIG__";
  // Still the placeholder (written split here so the host leaves it alone):
  // the host did not fill it in, so there is no bridge.
  if (text === "__BK_DESKTOP_" + "CONFIG__") return;
  var config = JSON.parse(text);
  var pending = {};
  var nextId = 1;

  function post(text) {
    var handler = window.webkit && window.webkit.messageHandlers &&
      window.webkit.messageHandlers.hostBridge;
    if (handler) handler.postMessage(text);
  }

  window.__bkDesktopReceive = function (reply) {
    // Events come in the same way as replies, named "bk:...".
    if (typeof reply.event === "string") {
      window.dispatchEvent(new CustomEvent(reply.event, { detail: reply.payload }));
      return;
    }
    var waiter = pending[reply.id];
    if (!waiter) return;
    delete pending[reply.id];
    if (reply.ok) waiter.resolve(reply.result);
    else waiter.reject(new Error(reply.error));
  };

  window.bkDesktop = {
    config: config,
    invoke: function (cmd, args) {
      var id = nextId++;
      return new Promise(function (resolve, reject) {
        pending[id] = { resolve: resolve, reject: reject };
        post(JSON.stringify({ bk: config.token, id: id, cmd: cmd, args: args === undefined ? null : args }));
      });
    },
  };
})();
