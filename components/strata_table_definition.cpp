#include "components/strata_table_definition.h"

namespace strata {

namespace {

constexpr std::size_t kMaxHandOverText = 255;

// Each character of the text is a member of the set.
CharacterSet CharacterSetOf(std::string_view text) {
  CharacterSet set{};
  for (char c : text) AddToCharacterSet(set, static_cast<unsigned char>(c));
  return set;
}

std::string HandOverText(std::string_view text) {
  return std::string(text.substr(0, kMaxHandOverText));
}

}  // namespace

TableDefinition StrataTableDefinition::Descriptors() {
  return TableDefinition{.Fields = Fields,
                         .Indexes = IndexSlots(Indexes.data(), kIndexSlotCount),
                         .SecondaryIndexCount = SecondaryIndexCount};
}

StrataTableDefinition MakeStrataTableDefinition(
    std::int32_t localeId, std::uint16_t userMajorVersion, std::uint16_t userMinorVersion,
    bool encrypted, std::string_view password, std::string_view description,
    std::int32_t indexPageSize, std::int32_t blobBlockSize, std::int32_t lastAutoIncValue,
    std::string_view textIndexFields, const std::optional<std::vector<std::string>>& stopWords,
    std::string_view spaceChars, std::string_view includeChars) {
  StrataTableDefinition definition;
  TableProperties& properties = definition.Properties;
  properties.LocaleID = localeId;
  properties.UserMajorVersion = userMajorVersion;
  properties.UserMinorVersion = userMinorVersion;
  properties.Encrypted = encrypted;
  properties.Password = HandOverText(password);
  properties.Description = HandOverText(description);
  properties.IndexPageSize = indexPageSize;
  properties.BlobBlockSize = blobBlockSize;
  properties.LastAutoIncValue = lastAutoIncValue;
  properties.StopWords = stopWords;
  properties.SpaceChars = CharacterSetOf(spaceChars);
  properties.IncludeChars = CharacterSetOf(includeChars);
  definition.TextIndexFields = textIndexFields;
  return definition;
}

}  // namespace strata
