#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace strata::platform {
namespace {

namespace fs = std::filesystem;

constexpr char kKey[] = "HKEY_CURRENT_USER\\Software\\Hearthbook";

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "registry-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "registry.reg").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path dir_;
  std::string path_;
};

std::vector<std::uint8_t> Utf16(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

TEST_F(RegistryStoreTest, ReadsEveryValueForm) {
  Write(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "; a comment\n"
      "[HKEY_CURRENT_USER\\Software\\Hearthbook]\n"
      "@=\"the default\"\n"
      "\"DataPath\"=\"C:\\\\Data \\\"x\\\"\"\n"
      "\"Count\"=dword:0000002a\n"
      "\"Big\"=hex(b):00,00,00,00,01,00,00,00\n"
      "\"Expand\"=hex(2):25,00,48,00,25,00,00,00\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,63,00,\\\n"
      "  00,00,00,00\n"
      "\"Blob\"=hex:de,ad,be,ef\n"
      "\"Nothing\"=hex(0):\n"
      "\"Odd\"=hex(5):01,02\n"
      "\n"
      "[hkey_current_user\\software\\HEARTHBOOK]\n"
      "\"count\"=dword:00000007\n");
  RegistryStore store(path_);

  const auto read = [&](std::string_view name) {
    auto value = store.ReadValue(kKey, name);
    EXPECT_TRUE(value.has_value()) << name;
    return value.value_or(RegistryValue{});
  };
  EXPECT_EQ(read("").Text(), "the default");
  EXPECT_EQ(read("datapath").Kind(), RegistryValueKind::String);
  EXPECT_EQ(read("DATAPATH").Text(), "C:\\Data \"x\"");
  // A repeated value (here under a key written in another case) counts last.
  EXPECT_EQ(read("Count").Kind(), RegistryValueKind::DWord);
  EXPECT_EQ(read("Count").Number(), 7u);
  EXPECT_EQ(read("Big").Kind(), RegistryValueKind::QWord);
  EXPECT_EQ(read("Big").Number(), 1ull << 32);
  EXPECT_EQ(read("Expand").Kind(), RegistryValueKind::ExpandString);
  EXPECT_EQ(read("Expand").Text(), "%H%");
  EXPECT_EQ(read("Multi").Kind(), RegistryValueKind::MultiString);
  EXPECT_EQ(read("Multi").Strings(), (std::vector<std::string>{"a", "bc"}));
  EXPECT_EQ(read("Blob").Kind(), RegistryValueKind::Binary);
  EXPECT_EQ(read("Blob").data, (std::vector<std::uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(read("Nothing").Kind(), RegistryValueKind::None);
  EXPECT_TRUE(read("Nothing").data.empty());
  EXPECT_EQ(read("Odd").Kind(), RegistryValueKind::Other);
  EXPECT_EQ(read("Odd").type, 5u);

  EXPECT_FALSE(store.ReadValue(kKey, "Missing").has_value());
  EXPECT_FALSE(store.ReadValue("HKEY_CURRENT_USER\\Software", "DataPath").has_value());
  EXPECT_TRUE(store.KeyExists("HKEY_CURRENT_USER\\SOFTWARE"));  // implied by a key below it
  EXPECT_TRUE(store.KeyExists("HKEY_CURRENT_USER"));
  EXPECT_FALSE(store.KeyExists("HKEY_CURRENT_USER\\Software\\Other"));
  EXPECT_FALSE(store.KeyExists("HKEY_CURRENT_USER\\\\Software"));
}

TEST_F(RegistryStoreTest, Utf16FileIsReadAndRewrittenInItsOwnEncoding) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\Hearthbook]\r\n"
      u"\"DataPath\"=\"D:\\\\Donn\u00e9es\"\r\n\r\n";
  std::vector<std::uint8_t> bytes{0xFF, 0xFE};
  for (std::uint8_t b : Utf16(text)) bytes.push_back(b);
  Write(std::string(bytes.begin(), bytes.end()));
  RegistryStore store(path_);
  EXPECT_EQ(store.ReadValue(kKey, "DataPath")->Text(), "D:\\Donn\u00e9es");

  ASSERT_TRUE(store.SetString(kKey, "Other", "1"));
  const std::string after = Contents();
  ASSERT_GE(after.size(), 2u);
  EXPECT_EQ(after.substr(0, 2), "\xFF\xFE");
  const std::u16string expected =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\Hearthbook]\r\n"
      u"\"DataPath\"=\"D:\\\\Donn\u00e9es\"\r\n\"Other\"=\"1\"\r\n\r\n";
  const std::vector<std::uint8_t> encoded = Utf16(expected);
  EXPECT_EQ(after.substr(2), std::string(encoded.begin(), encoded.end()));
}

TEST_F(RegistryStoreTest, UnparsableFileNamesFileAndLineAndIsNeverRewritten) {
  const std::string header = "Windows Registry Editor Version 5.00\n";
  const std::string key = "[HKEY_CURRENT_USER\\Software]\n";
  const struct {
    std::string text;
    int line;
  } cases[] = {
      {"Windows Registry Editor 9\n" + key, 1},
      {header + "\"DataPath\"=\"x\"\n", 2},
      {header + key + "\"A\"=dword:xyz\n", 3},
      {header + key + "\"A\"=\"no end\n", 3},
      {header + key + "\"A\"=hex:01,zz\n", 3},
      {header + key + "\"A\"=hex:01,\\\n", 3},
      {header + key + "\"A\"=text\n", 3},
      {header + key + "\n[HKEY_CURRENT_USER\\Software\n", 4},
      {header + key + "rubbish\n", 3},
  };
  for (const auto& c : cases) {
    Write(c.text);
    RegistryStore store(path_);
    try {
      store.ReadValue("HKEY_CURRENT_USER\\Software", "A");
      ADD_FAILURE() << "no error for:\n" << c.text;
    } catch (const RegistryFileError& error) {
      EXPECT_EQ(error.Line(), c.line) << c.text;
      EXPECT_NE(std::string(error.what()).find("'" + path_ + "', line " + std::to_string(c.line)),
                std::string::npos)
          << error.what();
    }
    EXPECT_THROW(store.CreateKey("HKEY_CURRENT_USER\\New"), RegistryFileError);
    EXPECT_THROW(store.SetString("HKEY_CURRENT_USER\\Software", "A", "x"), RegistryFileError);
    EXPECT_EQ(Contents(), c.text);
  }
}

TEST_F(RegistryStoreTest, CreateKeyReplacesTheFileAndKeepsEveryOtherLine) {
  const std::string original =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "; kept as written\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "\"Resource\"=hex(8):01,02,03\n"
      "\"Upper\"=DWORD:0000000A\n"
      "\"Spaced\" = \"x\"\n";
  Write(original);
  struct stat before {};
  ASSERT_EQ(stat(path_.c_str(), &before), 0);

  RegistryStore store(path_);
  ASSERT_TRUE(store.CreateKey(kKey));
  EXPECT_EQ(Contents(), original + "\n[" + kKey + "]\n\n");
  struct stat after {};
  ASSERT_EQ(stat(path_.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed into place
  for (const auto& entry : fs::directory_iterator(dir_)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
  }

  // An existing key (in any letter case) leaves the file alone.
  ASSERT_TRUE(store.CreateKey("hkey_current_user\\SOFTWARE\\hearthbook"));
  struct stat again {};
  ASSERT_EQ(stat(path_.c_str(), &again), 0);
  EXPECT_EQ(again.st_ino, after.st_ino);
  EXPECT_FALSE(store.CreateKey("HKEY_CURRENT_USER\\Software\\"));
}

TEST_F(RegistryStoreTest, SetValueWritesEachTypeSoThatItReadsBack) {
  RegistryStore store((dir_ / "deep" / "er" / "registry.reg").string());
  std::vector<std::uint8_t> longBlob(100);
  for (std::size_t i = 0; i < longBlob.size(); ++i) longBlob[i] = static_cast<std::uint8_t>(i);
  const std::pair<const char*, RegistryValue> values[] = {
      {"", RegistryValue::String("default")},
      {"Quoted", RegistryValue::String("a\\b \"q\"")},
      {"Lines", RegistryValue::String("one\ntwo")},
      {"Cut", RegistryValue{kRegString, {'a', 0, 0, 0, 'b', 0, 0, 0}}},
      {"Expand", RegistryValue::String("%TEMP%\\x", kRegExpandString)},
      {"Count", RegistryValue::DWord(0xCAFE)},
      {"Big", RegistryValue::QWord(0x0102030405060708ull)},
      {"Multi", RegistryValue::MultiString({"x", "yz"})},
      {"Blob", RegistryValue{kRegBinary, longBlob}},
  };
  for (const auto& [name, value] : values) ASSERT_TRUE(store.SetValue(kKey, name, value)) << name;
  ASSERT_TRUE(store.SetString(kKey, "quoted", "replaced"));  // same value, other case

  for (const auto& [name, value] : values) {
    const auto read = store.ReadValue(kKey, name);
    ASSERT_TRUE(read.has_value()) << name;
    if (std::string_view(name) == "Quoted") {
      EXPECT_EQ(read->Text(), "replaced");
    } else {
      EXPECT_EQ(*read, value) << name;
    }
  }
  std::ifstream in(store.FilePath());
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n[" + std::string(kKey) + "]\n", 0),
            0u);
  EXPECT_NE(text.find("@=\"default\"\n\"Quoted\"=\"replaced\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"Count\"=dword:0000cafe\n"), std::string::npos);
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    EXPECT_LE(end - start, 80u);  // long hex data is wrapped
    start = end + 1;
  }
}

TEST_F(RegistryStoreTest, ConcurrentWritersLoseNothingAndReadersNeverSeeAHalfFile) {
  constexpr int kWrites = 40;
  std::atomic<bool> done{false};
  std::atomic<int> readerErrors{0};
  std::thread reader([&] {
    RegistryStore store(path_);
    while (!done) {
      try {
        store.ReadValue(kKey, "a0");
      } catch (const RegistryFileError&) {
        ++readerErrors;
      }
    }
  });
  std::vector<std::thread> writers;
  for (char prefix : {'a', 'b'}) {
    writers.emplace_back([&, prefix] {
      RegistryStore store(path_);
      for (int i = 0; i < kWrites; ++i) {
        store.SetString(kKey, std::string(1, prefix) + std::to_string(i), "value");
      }
    });
  }
  for (auto& writer : writers) writer.join();
  done = true;
  reader.join();
  EXPECT_EQ(readerErrors, 0);
  RegistryStore store(path_);
  for (char prefix : {'a', 'b'}) {
    for (int i = 0; i < kWrites; ++i) {
      EXPECT_TRUE(store.ReadValue(kKey, std::string(1, prefix) + std::to_string(i)).has_value());
    }
  }
}

TEST(RegistryStorePathTest, EnvironmentChoosesTheFile) {
  const auto saved = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  const auto named = saved("HEARTHBOOK_REGISTRY");
  const auto config = saved("XDG_CONFIG_HOME");
  const auto home = saved("HOME");

  setenv("HOME", "/home/u", 1);
  unsetenv("HEARTHBOOK_REGISTRY");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegistryStore::DefaultPath(), "/home/u/.config/hearthbook/registry.reg");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(RegistryStore::DefaultPath(), "/cfg/hearthbook/registry.reg");
  setenv("HEARTHBOOK_REGISTRY", "/tmp/r.reg", 1);
  EXPECT_EQ(RegistryStore::DefaultPath(), "/tmp/r.reg");

  const auto restore = [](const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  };
  restore("HEARTHBOOK_REGISTRY", named);
  restore("XDG_CONFIG_HOME", config);
  restore("HOME", home);
}

}  // namespace
}  // namespace strata::platform
