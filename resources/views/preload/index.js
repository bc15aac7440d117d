// The page side of the host bridge. The host replaces the placeholder below
// with this launch's configuration before the script reaches a page.
(function () {
  "use strict";
  var config = "__BK_DESKTOP_CONFIG__";
  if (typeof config === "string") return; // not filled in: no bridge
  var pending = {};
  var nextId = 1;

  function post(text) {
    var handler = window.webkit && window.webkit.messageHandlers &&
      window.webkit.messageHandlers.hostBridge;
    if (handler) handler.postMessage(text);
  }

  window.__bkDesktopReceive = function (reply) {
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
