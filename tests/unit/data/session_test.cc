// Engine sessions: automatic names with the lowest free number, and lookup.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "data/engine.h"

namespace morvane::db {
namespace {

int NumberOf(const TSession& s) {
  const std::string& n = s.SessionName();
  EXPECT_EQ(n.rfind("HistSession_", 0), 0u) << n;
  return std::stoi(n.substr(12));
}

TEST(SessionTest, AutomaticNamesTakeTheLowestFreeNumber) {
  auto first = TSession::MakeAutoNamed();
  auto second = TSession::MakeAutoNamed();
  const int n1 = NumberOf(*first);
  EXPECT_EQ(NumberOf(*second), n1 + 1);
  EXPECT_TRUE(first->Active());
  const std::string freed = first->SessionName();
  first.reset();
  EXPECT_EQ(TSession::FindSession(freed), nullptr);
  auto third = TSession::MakeAutoNamed();
  EXPECT_EQ(third->SessionName(), freed);
  EXPECT_EQ(TSession::FindSession(freed), third.get());
}

TEST(SessionTest, ConcurrentModulesNeverShareANumber) {
  constexpr int kThreads = 8;
  std::vector<std::unique_ptr<TSession>> made(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&made, i] { made[static_cast<size_t>(i)] = TSession::MakeAutoNamed(); });
  }
  for (std::thread& t : threads) t.join();
  std::set<std::string> names;
  for (const auto& s : made) names.insert(s->SessionName());
  EXPECT_EQ(names.size(), static_cast<size_t>(kThreads));
}

TEST(SessionTest, OpenFindsOrMakesAndCurrentFollows) {
  TSession* s = TSession::OpenSession("104512000000A0");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->Active());
  EXPECT_EQ(TSession::OpenSession("104512000000A0"), s);
  EXPECT_EQ(TSession::FindSession("104512000000A0"), s);
  TSession::MakeCurrent(s);
  EXPECT_EQ(TSession::Current(), s);
  EXPECT_THROW(TSession("104512000000A0"), EDatabaseError);

  auto own = std::make_unique<TSession>("transient");
  TSession::MakeCurrent(own.get());
  own.reset();
  EXPECT_EQ(TSession::Current(), nullptr);  // never left dangling
}

TEST(SessionTest, ConcurrentOpensOfOneNameShareTheSession) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    const std::string name = "concurrent_open_" + std::to_string(round);
    std::vector<TSession*> opened(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back(
          [&opened, &name, i] { opened[static_cast<size_t>(i)] = TSession::OpenSession(name); });
    }
    for (std::thread& t : threads) t.join();
    for (TSession* s : opened) EXPECT_EQ(s, opened[0]);
    ASSERT_NE(opened[0], nullptr);
    EXPECT_EQ(TSession::FindSession(name), opened[0]);
    TSession::FreeSession(name);
    EXPECT_EQ(TSession::FindSession(name), nullptr);
  }
}

}  // namespace
}  // namespace morvane::db
