#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "shell/desktop_darwin.h"
#include "support/file.h"
#include "tests/test_support.h"

namespace {

using shell::launchAgent;
using shell::loginItemEnabled;
using shell::setLoginItem;
using shell::xmlText;
using testing_support::readAll;
using testing_support::TempDir;

TEST(LaunchAgent, LivesInTheUsersLaunchAgents) {
  EXPECT_EQ(launchAgent("/Users/me"), "/Users/me/Library/LaunchAgents/work.brovik.dira.plist");
  EXPECT_EQ(launchAgent("/Users/me/"), "/Users/me/Library/LaunchAgents/work.brovik.dira.plist");
  EXPECT_EQ(launchAgent(""), "Library/LaunchAgents/work.brovik.dira.plist");
}

TEST(XMLText, EscapesCharacterData) {
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"/Applications/Brovik Dira.app", "/Applications/Brovik Dira.app"},
      {"a&b<c>d", "a&amp;b&lt;c&gt;d"},
      {"\"q\" 'a'", "&#34;q&#34; &#39;a&#39;"},
      {"\t\n\r", "&#x9;&#xA;&#xD;"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"\xEF\xBF\xBD", "\xEF\xBF\xBD"},  // a real U+FFFD stays
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},                                                     // not UTF-8
      {"\xC3", "\xEF\xBF\xBD"},                                  // cut short
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate: three bad bytes
      {std::string("a\0b", 3),
       "a\xEF\xBF\xBD"
       "b"},  // outside the XML range
      {"\x01\x1F", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xEF\xBF\xBE", "\xEF\xBF\xBD"},          // U+FFFE
      {"\xEE\x80\x80", "\xEE\x80\x80"},          // U+E000
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(xmlText(c.in), c.want) << testing::PrintToString(c.in);
}

TEST(SetLoginItem, WritesTheAgentWithTheEscapedExecutable) {
  TempDir home;
  const std::string exe = "/Apps/R&D <beta>/\xFF/brovik-work";
  ASSERT_TRUE(setLoginItem(home.path(), exe, true).ok());
  const std::string want =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n"
      "<dict>\n"
      "  <key>Label</key>\n"
      "  <string>work.brovik.dira</string>\n"
      "  <key>ProgramArguments</key>\n"
      "  <array>\n"
      "    <string>/Apps/R&amp;D &lt;beta&gt;/\xEF\xBF\xBD/brovik-work</string>\n"
      "    <string>--autostart</string>\n"
      "  </array>\n"
      "  <key>RunAtLoad</key>\n"
      "  <true/>\n"
      "</dict>\n"
      "</plist>\n";
  const std::string agent = launchAgent(home.path());
  EXPECT_EQ(readAll(agent), want);
  struct stat st {};
  ASSERT_EQ(::stat(agent.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_TRUE(loginItemEnabled(home.path()));
}

// The agent is replaced, not rewritten in place: a reader of the old file
// (here a second link to it) never sees a half-written text.
TEST(SetLoginItem, ReplacesAnEarlierAgentWhole) {
  TempDir home;
  std::string old = home.write("Library/LaunchAgents/work.brovik.dira.plist", "old agent");
  ASSERT_EQ(::link(old.c_str(), (home.path() + "/old-link").c_str()), 0);
  ASSERT_TRUE(setLoginItem(home.path(), "/new/exe", true).ok());
  std::string text = readAll(old);
  EXPECT_NE(text.find("    <string>/new/exe</string>\n"), std::string::npos) << text;
  EXPECT_EQ(readAll(home.path() + "/old-link"), "old agent");
}

TEST(SetLoginItem, ReportsTheFileSystemError) {
  TempDir home;
  home.write("Library", "a file where the directory should be");
  support::Status s = setLoginItem(home.path(), "/x", true);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message.rfind("mkdir " + home.path() + "/Library", 0), 0u)
      << s.error().message;
  EXPECT_FALSE(loginItemEnabled(home.path()));
}

TEST(SetLoginItem, OffRemovesTheAgent) {
  TempDir home;
  home.write("Library/LaunchAgents/work.brovik.dira.plist", "not even a plist");
  EXPECT_TRUE(loginItemEnabled(home.path()));  // any file of that name counts
  EXPECT_TRUE(setLoginItem(home.path(), "/x", false).ok());
  EXPECT_FALSE(loginItemEnabled(home.path()));
  // Turning it off again, with no agent left, is no error.
  EXPECT_TRUE(setLoginItem(home.path(), "/x", false).ok());
  TempDir empty;
  EXPECT_TRUE(setLoginItem(empty.path() + "/no/such/home", "/x", false).ok());
}

TEST(SetLoginItem, OffReportsOtherRemovalErrors) {
  TempDir home;
  home.write("Library/LaunchAgents/work.brovik.dira.plist/inside", "a non-empty directory");
  support::Status s = setLoginItem(home.path(), "/x", false);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message.rfind("remove " + launchAgent(home.path()) + ": ", 0), 0u)
      << s.error().message;
}

}  // namespace
