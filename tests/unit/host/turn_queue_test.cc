// Turns: arrival order among those that fit, the bound per address, and a
// waiter that hangs up leaving the queue.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "turn_queue.h"

namespace morvane::host {
namespace {

struct Tagged final : TurnQueue::Waiter {
  Tagged(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
  void GiveTurn() override { log->push_back(name); }
  std::string name;
  std::vector<std::string>* log;
};

TEST(TurnQueue, GivesFreedTurnsInArrivalOrderWithinEachAddressBound) {
  HostCounters counters;
  TurnQueue queue(/*total=*/2, /*per_address=*/1, &counters);
  std::vector<std::string> given;
  auto make = [&](const char* name) { return std::make_shared<Tagged>(name, &given); };

  auto a1 = make("a1"), a2 = make("a2"), a3 = make("a3"), b1 = make("b1"), c1 = make("c1"),
       f1 = make("f1");
  EXPECT_TRUE(queue.Take("A", a1));
  EXPECT_FALSE(queue.Take("A", a2));  // A is at its bound; a turn in all is free
  EXPECT_TRUE(queue.Take("B", b1));
  EXPECT_FALSE(queue.Take("A", a3));
  EXPECT_FALSE(queue.Take("C", c1));
  EXPECT_FALSE(queue.Take("F", f1));
  EXPECT_EQ(queue.Waiting(), 4u);
  EXPECT_EQ(counters.requests_queued_total.load(), 4u);

  // A still at its bound: a2 and a3 are passed over, c1 goes, and f1 waits
  // since every turn is taken again.
  queue.End("B");
  EXPECT_EQ(given, std::vector<std::string>({"c1"}));
  queue.End("A");
  EXPECT_EQ(given, std::vector<std::string>({"c1", "a2"}));
  queue.Leave(f1.get());

  // A waiter whose client hung up leaves; one that is gone is skipped.
  // A gone waiter of an address with a request running leaves that count.
  auto a4 = make("a4"), d1 = make("d1"), e1 = make("e1");
  EXPECT_FALSE(queue.Take("A", a4));
  EXPECT_FALSE(queue.Take("D", d1));
  EXPECT_FALSE(queue.Take("E", e1));
  queue.Leave(a3.get());
  a4.reset();
  d1.reset();
  queue.End("C");
  EXPECT_EQ(given, std::vector<std::string>({"c1", "a2", "e1"}));
  EXPECT_EQ(queue.Waiting(), 0u);
  EXPECT_EQ(counters.requests_waiting.load(), 0);
  EXPECT_EQ(queue.Running(), 2u);
  queue.End("A");
  queue.End("E");
  EXPECT_EQ(queue.Running(), 0u);
}

}  // namespace
}  // namespace morvane::host
