#include "components/strata_session.h"

#include <gtest/gtest.h>

#include <string>

#include "components/default_components.h"
#include "components/strata_engine.h"
#include "engine/core/objects/data_engine.h"
#include "tests/components/error_message.h"

namespace strata {
namespace {

constexpr const char* kSessionActive = "Cannot perform this operation on an active session";

class SessionTest : public ::testing::Test {
 protected:
  TStrataSession& NewSession(const std::string& sessionName, const void* owner = nullptr) {
    TStrataSession& session = engine_.CreateSession("Session", owner);
    session.SetSessionName(sessionName);
    return session;
  }

  DefaultComponents defaults_;
  TStrataEngine& engine_ = defaults_.Engine();
  TStrataSession& default_ = defaults_.Session();
};

TEST_F(SessionTest, SwitchingAnotherSessionOnSwitchesOnTheDefaultSessionAndTheEngine) {
  TStrataSession& other = NewSession("Other");
  other.SetActive(true);
  EXPECT_TRUE(engine_.Active());
  EXPECT_TRUE(default_.Active());
  EXPECT_EQ(engine_.Core().SessionCount(), 2u);
  EXPECT_EQ(other.DataSessionName().rfind("Other_", 0), 0u);
  EXPECT_NE(other.DataSessionName(), default_.DataSessionName());
  EXPECT_EQ(&DefaultSession(), &default_);
  EXPECT_EQ(&DefaultEngine(), &engine_);

  other.SetActive(false);
  EXPECT_EQ(engine_.Core().SessionCount(), 1u);
  EXPECT_TRUE(default_.Active());
}

TEST_F(SessionTest, SwitchingTheDefaultSessionOnTwiceChangesNothing) {
  int startups = 0;
  default_.OnStartup = [&] { ++startups; };
  default_.SetActive(true);
  TDataSession* first = &default_.DataSession();
  default_.SetActive(true);
  EXPECT_EQ(&default_.DataSession(), first);
  EXPECT_EQ(startups, 1);
  EXPECT_EQ(engine_.Core().SessionCount(), 1u);
}

TEST_F(SessionTest, SettingsAreHandedOverAndPassedOnWhileActive) {
  default_.SetLockRetryCount(4);
  default_.SetLockProtocol(lpOptimistic);
  default_.SetPrivateDir("\\work\\tmp");
  default_.SetActive(true);
  TDataSession& data = default_.DataSession();
  EXPECT_EQ(data.LockRetryCount(), 4);
  EXPECT_EQ(data.LockProtocol(), lpOptimistic);
  EXPECT_EQ(data.StoredPrivateDirectory(), "/work/tmp/");

  default_.SetLockWaitTime(7);
  default_.SetForceBufferFlush(true);
  default_.SetProgressSteps(10);
  default_.SetProgressSteps(150);  // ignored
  EXPECT_EQ(data.LockWaitTime(), 7u);
  EXPECT_TRUE(data.ForceBufferFlush());
  EXPECT_EQ(default_.ProgressSteps(), 10);
  EXPECT_EQ(data.ProgressSteps(), 10);

  EXPECT_EQ(DatabaseErrorOf([&] { default_.SetSessionType(stRemote); }), kSessionActive);
  EXPECT_EQ(DatabaseErrorOf([&] { default_.SetSessionType(stLocal); }), "");
  EXPECT_EQ(DatabaseErrorOf([&] { default_.SetSessionName("Renamed"); }), kSessionActive);
}

TEST_F(SessionTest, PasswordRequestsReachTheSessionsCallback) {
  default_.OnPassword = [&] {
    default_.AddPassword("secret");
    return true;
  };
  default_.SetActive(true);
  EXPECT_TRUE(default_.DataSession().OnPassword());
  EXPECT_TRUE(default_.DataSession().HasPassword("secret"));
}

TEST_F(SessionTest, NameRulesAndLookUp) {
  TStrataSession& other = NewSession("Other");
  EXPECT_EQ(DatabaseErrorOf([&] { NewSession("oTHER"); }), "Session name 'oTHER' already exists");
  EXPECT_EQ(DatabaseErrorOf([&] { other.SetSessionName("DEFAULT"); }),
            "Session name 'DEFAULT' already exists");

  EXPECT_EQ(engine_.FindSession(""), &default_);
  EXPECT_EQ(engine_.FindSession("other"), &other);
  EXPECT_EQ(engine_.FindSession("missing"), nullptr);

  other.SetSessionType(stRemote);
  engine_.SetEngineType(etServer);
  EXPECT_EQ(DatabaseErrorOf([&] { other.SetActive(true); }),
            "Cannot activate a remote session with the server engine");
  EXPECT_FALSE(engine_.Active());

  TStrataSession& unnamed = engine_.CreateSession();
  EXPECT_EQ(DatabaseErrorOf([&] { unnamed.SetActive(true); }), "Session name is missing");
  EXPECT_FALSE(unnamed.Active());
  EXPECT_EQ(DatabaseErrorOf([&] { unnamed.DataSession(); }),
            "Cannot perform this operation on an inactive session");
}

TEST_F(SessionTest, AutoSessionNamesTakeTheFirstFreeSlot) {
  const int formA = 0;
  const int formB = 0;
  TStrataSession& first = engine_.CreateSession("Session", &formA);
  TStrataSession& second = engine_.CreateSession("Session", &formB);
  first.SetAutoSessionName(true);
  second.SetAutoSessionName(true);
  EXPECT_EQ(first.SessionName(), "Session_1");
  EXPECT_EQ(second.SessionName(), "Session_2");
  EXPECT_EQ(DatabaseErrorOf([&] { first.SetSessionName("Mine"); }),
            "Cannot perform this operation on the active auto-session");

  engine_.FreeSession(first);
  TStrataSession& third = engine_.CreateSession("Other", &formA);
  third.SetAutoSessionName(true);
  EXPECT_EQ(third.SessionName(), "Other_1");

  // One form: a single auto-session, and no other active session beside it.
  TStrataSession& sibling = engine_.CreateSession("Session", &formB);
  EXPECT_EQ(DatabaseErrorOf([&] { sibling.SetAutoSessionName(true); }),
            "This auto-session already exists");
  sibling.SetSessionName("Sibling");
  second.SetActive(true);
  EXPECT_EQ(DatabaseErrorOf([&] { sibling.SetActive(true); }),
            "The active auto-session can be the only active session");
}

}  // namespace
}  // namespace strata
