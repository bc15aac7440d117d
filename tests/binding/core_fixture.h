// A test of Core operations against the stand-in core, loaded through the
// real loader: what the core saw is read back from its call log and model.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "binding/nimbrel.h"
#include "tests/binding/standin_fixture.h"

namespace testing_support {

class CoreTest : public ::testing::Test {
 protected:
  using json = nlohmann::json;

  // Callbacks that the core still has on their way run before the test's
  // locals go away.
  void TearDown() override { sync(); }

  const nimbrel::Core& core() const { return standin.core(); }
  json command(const json& cmd) const { return standin.command(cmd); }
  void sync() const { command({{"cmd", "sync"}}); }

  // The calls of `fn` with their results, oldest first.
  json callRecords(const std::string& fn) const {
    return command({{"cmd", "calls"}, {"fn", fn}})["calls"];
  }
  // The arguments of the last call of `fn`.
  json lastArgs(const std::string& fn) const {
    json calls = standin.callsOf(fn);
    EXPECT_FALSE(calls.empty()) << fn << " was not called";
    return calls.empty() ? json() : calls.back();
  }
  bool called(const std::string& fn) const { return !standin.callsOf(fn).empty(); }

  // An operation that changes something, and what the core should receive.
  struct ChangingCall {
    const char* fn;
    std::function<support::Status()> op;
    json args;  // the core function's arguments; null: not compared
  };
  // Each operation fails exactly when the core leaves a non-empty last-error
  // text (its text is the error), and hands the core its arguments in order.
  void expectFailsOnLastErrorText(const std::vector<ChangingCall>& calls) const {
    for (const auto& c : calls) {
      standin.failNext(c.fn, std::string(c.fn) + " refused");
      auto refused = c.op();
      ASSERT_FALSE(refused.ok()) << c.fn;
      EXPECT_EQ(refused.error().message, std::string(c.fn) + " refused");

      standin.failNext(c.fn, "");
      EXPECT_TRUE(c.op().ok()) << c.fn << ": an empty text is no error";

      auto status = c.op();
      EXPECT_TRUE(status.ok()) << c.fn << ": " << status.error().message;
      json args = lastArgs(c.fn);
      if (!c.args.is_null()) {
        EXPECT_EQ(args, c.args) << c.fn;
      }
    }
  }

  // The core's record of one window or web view; null when it has none.
  json window(uint32_t id) const { return findById(standin.state()["windows"], id); }
  json webview(uint32_t id) const { return findById(standin.state()["webviews"], id); }

  StandinCore standin;

 private:
  static json findById(const json& list, uint32_t id) {
    for (const auto& item : list) {
      if (item["id"] == id) return item;
    }
    return nullptr;
  }
};

}  // namespace testing_support
