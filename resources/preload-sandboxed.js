// Runs in sandboxed web views, before the page's own scripts.
(function () {
  "use strict";
  if (window.__nimbrelPreload) return;
  window.__nimbrelPreload = { sandboxed: true };
})();
