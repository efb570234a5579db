#include "components/strata_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/default_components.h"
#include "components/strata_session.h"
#include "engine/core/objects/data_engine.h"
#include "tests/components/error_message.h"

namespace strata {
namespace {

constexpr const char* kEngineActive = "Cannot perform this operation when the engine is active";

TEST(EngineHolderTest, SharesOneEngineBetweenTwoHoldersAndRefusesAThird) {
  {
    DefaultComponents defaults;
    EngineHolder second;
    EXPECT_EQ(second.get(), &defaults.Engine());
    EXPECT_EQ(TStrataEngine::Instance(), &defaults.Engine());
    EXPECT_EQ(DatabaseErrorOf([] { EngineHolder third; }), "An engine component already exists");

    EngineHolder moved = std::move(second);
    EXPECT_EQ(second.get(), nullptr);
    defaults.Engine().SetTableDataExtension(".xyz");
  }
  // The last holder freed the engine; the next one starts from the defaults.
  EXPECT_EQ(TStrataEngine::Instance(), nullptr);
  EngineHolder fresh;
  EXPECT_EQ(fresh->TableDataExtension(), ".dat");
}

class EngineSettingsTest : public ::testing::Test {
 protected:
  DefaultComponents defaults_;
  TStrataEngine& engine_ = defaults_.Engine();
  const DataEngineOptions& core_ = engine_.Core().Options();
};

TEST_F(EngineSettingsTest, NormalisesValuesAndCopiesThemIntoTheCore) {
  engine_.SetTableDataExtension("dat2");
  EXPECT_EQ(engine_.TableDataExtension(), ".dat2");
  EXPECT_EQ(core_.TableDataExtension, ".dat2");
  engine_.SetTableBlobBackupExtension("");
  EXPECT_EQ(core_.TableBlobBackupExtension, ".bbk");

  engine_.SetMaxTableIndexBufferSize(1000);
  EXPECT_EQ(core_.MaxTableIndexBufferSize, 32768);
  engine_.SetMaxTableBlobBufferCount(5);
  EXPECT_EQ(core_.MaxTableBlobBufferCount, 32);

  engine_.SetTableFilterIndexThreshhold(40);
  engine_.SetTableFilterIndexThreshhold(150);
  EXPECT_EQ(engine_.TableFilterIndexThreshhold(), 40);
  EXPECT_EQ(core_.TableFilterIndexThreshhold, 40);
  engine_.SetTableMaxReadLockCount(0);
  EXPECT_EQ(core_.TableMaxReadLockCount, 100);

  engine_.SetTableWriteLockRetryCount(7);
  EXPECT_EQ(core_.TableLocks.TableWriteLockRetryCount, 7);

  engine_.SetEngineVersion("9.99");
  EXPECT_EQ(engine_.EngineVersion(), "4.25 Build 4");
}

TEST_F(EngineSettingsTest, SignatureDigestIsTheBuiltInOneOrTheMd5OfTheText) {
  const Digest builtIn = {0x8A, 0xBE, 0x8E, 0x59, 0x23, 0x64, 0xCB, 0x40,
                          0x3D, 0x71, 0xD2, 0xE3, 0xBC, 0x64, 0xD0, 0x01};
  EXPECT_EQ(engine_.SignatureDigest(), builtIn);
  engine_.SetEngineSignature("abc");
  const Digest md5abc = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                         0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  EXPECT_EQ(engine_.Core().SignatureDigest(), md5abc);
  engine_.SetEngineSignature("");
  EXPECT_EQ(engine_.SignatureDigest(), builtIn);
}

TEST_F(EngineSettingsTest, ActiveEngineRefusesChangesButNotTheSameValue) {
  engine_.SetActive(true);
  EXPECT_TRUE(engine_.Core().Active());
  struct Case {
    const char* name;
    std::function<void()> change;
    std::function<void()> same;
  };
  const std::vector<Case> cases = {
      {"extension", [&] { engine_.SetTableIndexExtension("ix"); },
       [&] { engine_.SetTableIndexExtension("idx"); }},
      {"buffer size", [&] { engine_.SetMaxTableDataBufferSize(65536); },
       [&] { engine_.SetMaxTableDataBufferSize(32768); }},
      {"lock wait", [&] { engine_.SetTableReadLockWaitTime(9); },
       [&] { engine_.SetTableReadLockWaitTime(3); }},
      {"signature", [&] { engine_.SetEngineSignature("x"); },
       [&] { engine_.SetEngineSignature(""); }},
      {"lock file", [&] { engine_.SetLockFileName("other.lck"); },
       [&] { engine_.SetLockFileName("strata.lck"); }},
      {"engine type", [&] { engine_.SetEngineType(etServer); },
       [&] { engine_.SetEngineType(etClient); }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DatabaseErrorOf(c.change), kEngineActive) << c.name;
    EXPECT_EQ(DatabaseErrorOf(c.same), "") << c.name;
  }
  EXPECT_EQ(core_.TableIndexExtension, ".idx");
  engine_.SetFilterRecordCounts(false);  // no restriction
}

TEST_F(EngineSettingsTest, HooksReachTheCore) {
  engine_.SetOnCompress([](std::span<const std::uint8_t>, int) {
    return std::vector<std::uint8_t>{1, 2, 3};
  });
  const std::uint8_t input[] = {9};
  EXPECT_EQ(engine_.Core().Compression().Compress(input, 6), (std::vector<std::uint8_t>{1, 2, 3}));
  engine_.SetOnCryptoReset([](CipherContext&) {});
  EXPECT_TRUE(engine_.Core().Crypto().OnCryptoReset);
}

TEST_F(EngineSettingsTest, SwitchingOffStopsSessionsThenTheCoreThenCallsBack) {
  std::vector<std::string> calls;
  engine_.OnStartup = [&] { calls.push_back("engine up"); };
  engine_.OnShutdown = [&] {
    calls.push_back(engine_.Core().Active() ? "engine down (core on)" : "engine down");
  };
  TStrataSession& other = engine_.CreateSession();
  other.SetSessionName("Other");
  defaults_.Session().OnShutdown = [&] { calls.push_back("default down"); };
  other.OnShutdown = [&] { calls.push_back("other down"); };
  other.SetActive(true);
  engine_.SetActive(false);
  EXPECT_FALSE(other.Active());
  EXPECT_FALSE(defaults_.Session().Active());
  EXPECT_EQ(calls,
            (std::vector<std::string>{"engine up", "other down", "default down", "engine down"}));
}

}  // namespace
}  // namespace strata
