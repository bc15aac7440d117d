#include "shell/links.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using shell::callbackPath;
using shell::deepLinkPath;
using shell::firstPage;
using shell::isCallback;
using shell::linksIn;
using shell::originOf;
using shell::pageURL;
using testing::ElementsAre;
using testing::IsEmpty;

TEST(DeepLinkPath, GivesThePageWithExactlyOneLeadingSlash) {
  struct Case {
    const char* link;
    std::optional<std::string> want;
  } cases[] = {
      {"brovik-work://inbox/42?tab=files#top", "/inbox/42?tab=files#top"},
      {"BROVIK-WORK:inbox", "/inbox"},
      {"brovik-work:", "/"},
      {"Brovik-Work:///settings", "/settings"},
      {"brovik-work:/x", "/x"},
      {"brovik-work:////x//y", "/x//y"},
      // Nothing is decoded: query, fragment and escapes stay as written.
      {"brovik-work:///a%20b?q=%zz#f%20", "/a%20b?q=%zz#f%20"},
      // No deep links:
      {"brovik-work", std::nullopt},  // no colon
      {"brovik-wor:", std::nullopt},  // shorter than the scheme
      {"brovik-workx:/x", std::nullopt},
      {" brovik-work:/x", std::nullopt},
      {"work.brovik.dira://callback", std::nullopt},
      {"brovik-work:/in\x01"
       "box",
       std::nullopt},  // a control byte
      {"brovik-work:/inbox\x7f", std::nullopt},
      {"brovik-work:/a%zz", std::nullopt},      // a malformed escape in the path
      {"brovik-work:/a#%z", std::nullopt},      // ... in the fragment
      {"brovik-work://ho%zz/", std::nullopt},   // ... in the host
      {"brovik-work://host:x/", std::nullopt},  // a malformed port
      // The prefix is 12 bytes of ASCII: letters that only fold or lower-case
      // to its letters (the Kelvin sign, the dotted capital I) are other bytes,
      // and no URL scheme could hold them.
      {"brovi\xE2\x84\xAA-work:/x", std::nullopt},
      {"BROV\xC4\xB0K-WORK:/x", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(deepLinkPath(c.link), c.want) << c.link;
}

TEST(Callback, AcceptsTheCallbackFormsOfTheApplicationScheme) {
  struct Case {
    const char* link;
    bool callback;
    const char* page;  // callbackPath of the link
  } cases[] = {
      {"work.brovik.dira://callback?code=1&state=2", true, "/callback?code=1&state=2"},
      {"work.brovik.dira://callback", true, "/callback"},
      {"work.brovik.dira://callback/", true, "/callback"},
      {"work.brovik.dira:/callback?code=1", true, "/callback?code=1"},
      {"work.brovik.dira:///callback?code=1", true, "/callback?code=1"},
      {"work.brovik.dira://any.host/callback?x=1#frag", true, "/callback?x=1"},
      {"work.brovik.dira://callback#frag", true, "/callback"},
      {"work.brovik.dira://callback?", true, "/callback"},
      {"WORK.Brovik.DIRA://callback?code=1", true, "/callback?code=1"},
      {"work.brovik.dira://h/%63allback", true, "/callback"},  // the decoded path counts
      {"work.brovik.dira://callback:8080/callback", true, "/callback"},
      // Not callbacks:
      {"work.brovik.dira://CALLBACK?code=1", false, "/callback?code=1"},
      {"work.brovik.dira://callback:8080", false, "/callback"},
      {"work.brovik.dira://callback:8080/?code=1", false, "/callback?code=1"},
      {"work.brovik.dira:callback?code=1", false, "/callback?code=1"},
      {"work.brovik.dira://callback/more", false, "/callback"},
      {"work.brovik.dira://host/Callback", false, "/callback"},
      {"work.brovik.dira://host/callback/", false, "/callback"},
      {"work.brovik.dira://callback?code=\x01", false, "/callback"},
      {"work.brovik.dira://callback/%zz", false, "/callback"},
      {"brovik-work://callback?code=1", false, "/callback?code=1"},
      {"https://callback/callback", false, "/callback"},
      {"work.brovik.dirax://callback", false, "/callback"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isCallback(c.link), c.callback) << c.link;
    EXPECT_EQ(callbackPath(c.link), c.page) << c.link;
  }
}

TEST(OriginOf, IsTheLowerCaseSchemeAndHostOfAWebURL) {
  struct Case {
    const char* url;
    const char* want;
  } cases[] = {
      {"HTTPS://App.Example.COM:8443/path?q=1#f", "https://app.example.com:8443"},
      {"https://user:pw@app.example/x", "https://app.example"},
      {"https://app.example:443/", "https://app.example:443"},
      {"http://127.0.0.1:5180", "http://127.0.0.1:5180"},
      {"http://[::1]:5180/x", "http://[::1]:5180"},
      {"https://\xC3\x84PP.example/", "https://\xC3\xA4pp.example"},
      {"ftp://files.example/x", ""},
      {"https:///no-host", ""},
      {"https:no-host", ""},
      {"mailto:someone@example.com", ""},
      {"brovik-work://inbox", ""},
      {"/relative/page", ""},
      {"", ""},
      {"https://bad host/", ""},
      {"https://app.example/\x01", ""},
      {"https://app.example:80x/", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(originOf(c.url), c.want) << c.url;
}

TEST(PageURL, ResolvesAgainstTheAppOrigin) {
  struct Case {
    const char* base;
    const char* page;
    const char* want;
  } cases[] = {
      {"https://app.example", "/inbox?x=1#y", "https://app.example/inbox?x=1#y"},
      {"https://app.example", "", "https://app.example"},
      {"https://app.example", "inbox", "https://app.example/inbox"},
      {"https://app.example", "/callback?code=1&state=2",
       "https://app.example/callback?code=1&state=2"},
      {"https://app.example", "../../../etc", "https://app.example/etc"},
      {"https://app.example", "/a b", "https://app.example/a%20b"},
      {"https://app.example", "https://APP.example/x", "https://APP.example/x"},
      {"http://127.0.0.1:5180", "/settings", "http://127.0.0.1:5180/settings"},
      // Anything that would leave the origin gives its root.
      {"https://app.example", "//other.example/x", "https://app.example/"},
      {"https://app.example", "https://other.example/x", "https://app.example/"},
      {"https://app.example", "http://app.example/x", "https://app.example/"},
      {"https://app.example", "https://app.example:443/x", "https://app.example/"},
      {"https://app.example", "mailto:x", "https://app.example/"},
      {"https://app.example", "javascript:alert(1)", "https://app.example/"},
      {"https://app.example", "brovik-work://inbox", "https://app.example/"},
      // A page that does not parse gives the root too.
      {"https://app.example", "/a%zz", "https://app.example/"},
      {"https://app.example", "/x\x01", "https://app.example/"},
      {"https://app.example", ":x", "https://app.example/"},
      // The root drops the base's path, query and fragment, not its user.
      {"https://u@app.example/deep/page?q=1#f", "//other.example/", "https://u@app.example/"},
      {"https://app.example/deep/page?q=1#f", "", "https://app.example/deep/page?q=1#f"},
      {"https://app.example/deep/page?q=1#f", "other", "https://app.example/deep/other"},
      // A base that does not parse comes back unchanged.
      {"https://bad host", "/inbox", "https://bad host"},
      {"http://x/%zz", "/inbox", "http://x/%zz"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pageURL(c.base, c.page), c.want) << c.base << " + " << c.page;
}

TEST(PageURL, NeverLeavesTheOriginOfAWebBase) {
  const char* bases[] = {"https://app.example", "https://app.example/a/b?q#f",
                         "http://127.0.0.1:5180", "HTTPS://App.Example:8443/x"};
  const char* pages[] = {
      "",
      "/",
      "x",
      "//evil.example",
      "///evil.example",
      "////evil.example/x",
      "\\\\evil.example",
      "/\\evil.example",
      "https:evil.example",
      "https:/evil.example",
      "https://evil.example",
      "HTTPS://EVIL.example/",
      "https://app.example@evil.example/",
      "https://evil.example#@app.example",
      "http://[::1]/",
      "file:///etc/passwd",
      "javascript://app.example/%0Aalert(1)",
      "data:text/html,x",
      "about:blank",
      "brovik-work://x",
      "work.brovik.dira://callback",
      "../../../../..",
      "/..//evil.example",
      "./..//evil.example",
      "%2F%2Fevil.example",
      "?//evil.example",
      "#//evil.example",
  };
  for (const char* base : bases) {
    const std::string origin = originOf(base);
    ASSERT_FALSE(origin.empty()) << base;
    for (const char* page : pages) {
      EXPECT_EQ(originOf(pageURL(base, page)), origin) << base << " + " << page;
    }
  }
}

TEST(LinksIn, KeepsTheLinksUnchangedInOrder) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> want;
  } cases[] = {
      {{"--autostart", "BROVIK-WORK://INBOX", "/Users/me/file.txt"}, {"BROVIK-WORK://INBOX"}},
      {{"work.brovik.dira://callback?code=1", "https://x.example", "Work.Brovik.Dira:x"},
       {"work.brovik.dira://callback?code=1", "Work.Brovik.Dira:x"}},
      {{"brovik-work", "work.brovik.dira", "xbrovik-work:", "brovik-work:"}, {"brovik-work:"}},
      // Unicode lower-casing: U+0130 lowers to "i" and the Kelvin sign to "k".
      {{"BROV\xC4\xB0K-WORK://x", "brovi\xE2\x84\xAA-work:/y", "WORK.BROV\xC4\xB0K.DIRA:z"},
       {"BROV\xC4\xB0K-WORK://x", "brovi\xE2\x84\xAA-work:/y", "WORK.BROV\xC4\xB0K.DIRA:z"}},
      {{"brovik-work:\xFF",
        "\xFF"
        "brovik-work:"},
       {"brovik-work:\xFF"}},
      {{}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(linksIn(c.args), c.want) << testing::PrintToString(c.args);
}

TEST(FirstPage, ACallbackWinsOverDeepLinks) {
  struct Case {
    std::vector<std::string> links;
    std::optional<std::string> want;
  } cases[] = {
      {{"brovik-work://inbox", "work.brovik.dira://callback?code=1&state=2"},
       "/callback?code=1&state=2"},
      {{"brovik-work://inbox", "brovik-work://settings"}, "/inbox"},
      {{"work.brovik.dira:other", "brovik-work:/x"}, "/x"},
      {{"brovik-work:/a%zz", "brovik-work:/ok"}, "/ok"},
      {{"work.brovik.dira://callback", "work.brovik.dira://callback?code=2"}, "/callback"},
      {{"work.brovik.dira:other"}, std::nullopt},
      {{"BROV\xC4\xB0K-WORK://x"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(firstPage(c.links), c.want) << testing::PrintToString(c.links);
  }
}

}  // namespace
