#include "engine/core/objects/data_session.h"

#include <algorithm>

#include "engine/common/owned_list.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_engine.h"
#include "engine/core/schema/table_names.h"
#include "platform/process.h"

namespace strata {

namespace {

constexpr std::size_t kMaxPathSettingLength = 255;

}  // namespace

TDataSession::TDataSession(TDataEngine& engine)
    : engine_(engine), privateDirectory_(platform::TemporaryPath()) {}

TDataSession::~TDataSession() {
  // Later directories may hold tables that earlier ones do not; free in
  // reverse order of opening.
  while (!directories_.empty()) directories_.pop_back();
}

TDataDirectory& TDataSession::OpenDirectory(std::string_view databaseName,
                                            std::string_view directory, bool matchName,
                                            bool keepTablesOpen) {
  const bool inMemory = SameTableName(TrimBlanks(databaseName), TDataDirectory::kMemoryDatabase);
  std::string path = DirectoryWithSlash(directory);
  if (path.empty() && !inMemory) path = platform::CurrentDirectory();
  const std::string name(TrimBlanks(databaseName).substr(0, kMaxDatabaseNameLength));
  for (const auto& existing : directories_) {
    if (existing->InMemory() != inMemory || !SameTableName(existing->Path(), path)) continue;
    if (matchName && !SameTableName(existing->DatabaseName(), name)) continue;
    existing->AddReference();
    return *existing;
  }
  auto created = std::make_unique<TDataDirectory>(*this, name, path, keepTablesOpen, inMemory);
  return *directories_.emplace_back(std::move(created));
}

TDataDirectory& TDataSession::OpenDirectoryForReading(std::string_view directory) {
  std::string path = DirectoryWithSlash(directory);
  if (path.empty()) path = platform::CurrentDirectory();
  for (const auto& existing : directories_) {
    if (existing->InMemory() || !SameTableName(existing->Path(), path)) continue;
    existing->AddReference();
    return *existing;
  }
  auto created = std::make_unique<TDataDirectory>(*this, DatabaseNameOfPath(path), path, false,
                                                  false, true);
  return *directories_.emplace_back(std::move(created));
}

void TDataSession::CloseDirectory(TDataDirectory& directory) {
  if (!HoldsOwned(directories_, directory) || directory.ReleaseReference() > 0) return;
  const std::unique_ptr<TDataDirectory> freed = TakeOwned(directories_, directory);
}

void TDataSession::SetPrivateDirectory(std::string_view directory) {
  privateDirectory_ = DirectoryWithSlash(TrimBlanks(directory).substr(0, kMaxPathSettingLength));
}

std::string TDataSession::PrivateDirectory() const {
  return privateDirectory_.empty() ? platform::CurrentDirectory() : privateDirectory_;
}

std::int32_t TDataSession::ProgressStep() const {
  return settings_.ProgressSteps == 0 ? 100 : 100 / settings_.ProgressSteps;
}

void TDataSession::AddPassword(std::string_view text) {
  if (text.empty() || HasPassword(text)) return;
  const auto spare = std::find_if(sparePasswords_.begin(), sparePasswords_.end(),
                                  [&](const auto& p) { return p->Text() == text; });
  if (spare != sparePasswords_.end()) {
    passwords_.push_back(std::move(*spare));
    sparePasswords_.erase(spare);
    return;
  }
  passwords_.push_back(std::make_unique<TDataPassword>(engine_.Crypto(), text));
}

void TDataSession::RemovePassword(std::string_view text) {
  const auto it = std::find_if(passwords_.begin(), passwords_.end(),
                               [&](const auto& p) { return p->Text() == text; });
  if (it == passwords_.end()) return;
  sparePasswords_.push_back(std::move(*it));
  passwords_.erase(it);
}

void TDataSession::RemoveAllPasswords() {
  for (auto& password : passwords_) sparePasswords_.push_back(std::move(password));
  passwords_.clear();
}

bool TDataSession::HasPassword(std::string_view text) const { return FindPassword(text) != nullptr; }

const TDataPassword* TDataSession::FindPassword(std::string_view text) const {
  for (const auto& password : passwords_) {
    if (password->Text() == text) return password.get();
  }
  return nullptr;
}

}  // namespace strata
