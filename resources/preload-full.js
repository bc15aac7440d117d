// Runs in every web view with full access, before the page's own scripts.
(function () {
  "use strict";
  if (window.__nimbrelPreload) return;
  window.__nimbrelPreload = { sandboxed: false };
})();
