#include "engine/core/restructure/restructure_decision.h"

#include <array>

#include "engine/core/objects/data_engine.h"
#include "engine/core/objects/data_table.h"
#include "engine/core/schema/table_full_text_params.h"

namespace strata {

RestructureDecision DecideRestructure(TDataTable& table, TDataCursor* cursor,
                                      const TableProperties& options,
                                      const TableDefinition& definition, std::int32_t pageSize,
                                      std::int32_t blockSize, std::string_view tableName) {
  TDataFile& data = *table.DataFile();
  TIndexFile& index = *table.IndexFile();
  RestructureDecision decision;
  decision.CurrentText = ReadFullTextParams(index, cursor);
  const auto localeId = static_cast<std::uint32_t>(options.LocaleID);
  decision.WantedText = ReplaceFullTextParams(decision.CurrentText, localeId, options.StopWords,
                                              options.SpaceChars, options.IncludeChars);

  std::array<IndexDescriptor, kIndexSlotCount> stored{};
  for (std::size_t slot = 0; slot < kIndexSlotCount; ++slot) {
    stored[slot] = index.Descriptor(static_cast<int>(slot));
  }
  bool passwordDiffers = !options.Password.empty();
  if (data.Encrypted()) {
    passwordDiffers =
        table.Engine().Crypto().PasswordCheck(options.Password) != data.Header().PasswordCheck;
  }
  const TableShape current{data.Fields(),
                           stored,
                           index.SecondaryIndexCount(),
                           data.LocaleID(),
                           data.Header().IndexPageSize,
                           data.Header().BlobBlockSize,
                           data.Encrypted(),
                           &decision.CurrentText};
  const TableShape wanted{definition.Fields,
                          definition.Indexes,
                          definition.SecondaryIndexCount,
                          localeId,
                          pageSize,
                          blockSize,
                          options.Encrypted,
                          &decision.WantedText};
  decision.Level = ChooseRestructureLevel(current, wanted, passwordDiffers, tableName,
                                          table.ErrorDatabaseName());
  return decision;
}

}  // namespace strata
