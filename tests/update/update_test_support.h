// Helpers for the tests of the update run: a private data directory inside a
// private directory that is also the process's current directory (so that
// nothing a run leaves in the current directory goes unnoticed), with or without the default components, catalogue
// tables in their current shape, and a check of every catalogue table
// against its entry.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "components/default_components.h"
#include "components/definition_descriptors.h"
#include "components/field_defs.h"
#include "components/strata_table.h"
#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "engine/core/objects/data_table.h"
#include "engine/formats/data_file.h"
#include "engine/formats/index_file.h"
#include "update/catalogue.h"

namespace strata::testing {

// A data directory in a private directory that is also the current one.
class DataDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "update-run-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    data_ = root_ / "data";
    std::filesystem::create_directories(data_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(root_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(root_);
  }

  std::filesystem::path root_;
  std::filesystem::path data_;
  std::filesystem::path previous_;
};

// The same with the default components for the test's length.
class UpdateRunTest : public DataDirectoryTest {
 protected:
  void SetUp() override {
    DataDirectoryTest::SetUp();
    components_.emplace();
  }
  void TearDown() override {
    components_.reset();
    DataDirectoryTest::TearDown();
  }

  std::optional<DefaultComponents> components_;
};

// Creates a catalogue table in its catalogue shape (locale 0, user version
// 1), as a database of the application would hold it. Needs the default
// components.
inline void CreateCatalogueTable(const std::string& directory, const CatalogueEntry& entry) {
  DefaultSession().SetActive(true);
  TStrataTable table;
  table.SetDatabaseName(directory);
  table.SetTableName(entry.FileName);
  table.SetExclusive(true);
  for (const CatalogueField& f : entry.Fields) {
    table.FieldDefs().Add(f.Name, f.DataType, f.Size, f.Required, f.DefaultValue, "", "", "",
                          f.CharCase, 0);
  }
  for (const CatalogueIndex& x : entry.Indexes) {
    table.IndexDefs().Add(x.Name, x.Fields, x.Options, x.DescFields, x.Compression);
  }
  table.CreateTable(0, 1, 0, false, "", "", 4096, 512, -1, "", std::nullopt, "", "");
}

// Checks every catalogue table in the directory against its entry: locale,
// user version, description, each field (number, name, type, size,
// required, default, character case) and each index (name, key fields,
// options, compression), through the engine.
inline void ExpectCatalogueStructure(const std::string& directoryPath) {
  TDataSession& session = DefaultSession().DataSession();
  TDataDirectory& directory = session.OpenDirectory("", directoryPath);
  for (const CatalogueEntry& entry : Catalogue()) {
    SCOPED_TRACE(entry.FileName);
    TDataTable& table = directory.OpenTable(entry.FileName, entry.FileName, {});
    const TDataFile& data = *table.DataFile();
    EXPECT_EQ(data.LocaleID(), entry.LocaleId);
    EXPECT_EQ(data.Header().UserMajorVersion, entry.UserMajorVersion);
    EXPECT_EQ(data.Header().Description, entry.Description);

    TStrataFieldDefs defs;
    for (const CatalogueField& f : entry.Fields) {
      defs.Add(static_cast<std::int32_t>(defs.Count() + 1), f.Name, f.DataType, f.Size, f.Required,
               f.DefaultValue, "", "", "", f.CharCase, 0);
    }
    ASSERT_EQ(data.Fields().size(), entry.Fields.size());
    for (std::size_t i = 0; i < entry.Fields.size(); ++i) {
      const FieldDescriptor expected = BuildFieldDescriptor(defs[i]);
      const FieldDescriptor& stored = data.Fields()[i];
      EXPECT_EQ(stored.FieldNumber, i + 1);
      EXPECT_EQ(stored.Name, expected.Name);
      EXPECT_EQ(stored.EngineType, expected.EngineType) << stored.Name;
      EXPECT_EQ(stored.SubType, expected.SubType) << stored.Name;
      EXPECT_EQ(stored.DeclaredLength, expected.DeclaredLength) << stored.Name;
      EXPECT_EQ(stored.DeclaredDecimals, expected.DeclaredDecimals) << stored.Name;
      EXPECT_EQ(stored.Required, expected.Required) << stored.Name;
      EXPECT_EQ(stored.DefaultValue, expected.DefaultValue) << stored.Name;
      EXPECT_EQ(stored.CharCase, expected.CharCase) << stored.Name;
    }

    const TIndexFile& index = *table.IndexFile();
    ASSERT_EQ(index.SecondaryIndexCount() + 1, static_cast<int>(entry.Indexes.size()));
    for (std::size_t slot = 0; slot < entry.Indexes.size(); ++slot) {
      const CatalogueIndex& x = entry.Indexes[slot];
      const IndexDescriptor expected =
          BuildIndexDescriptor(defs, x.Name, x.Fields, x.Options, x.DescFields, x.Compression,
                               false);
      const IndexDescriptor& stored = index.Descriptor(static_cast<int>(slot));
      EXPECT_EQ(stored.Name, expected.Name) << slot;
      EXPECT_EQ(stored.FieldCount, expected.FieldCount) << x.Name;
      for (std::size_t k = 0; k < expected.FieldCount; ++k) {
        EXPECT_EQ(stored.FieldNumbers[k], expected.FieldNumbers[k]) << x.Name;
        EXPECT_EQ(stored.DescendingFields[k], expected.DescendingFields[k]) << x.Name;
      }
      EXPECT_EQ(stored.Unique, expected.Unique) << x.Name;
      EXPECT_EQ(stored.CaseInsensitive, expected.CaseInsensitive) << x.Name;
      EXPECT_EQ(stored.Compression, expected.Compression) << x.Name;
    }
    directory.CloseTable(table);
  }
  session.CloseDirectory(directory);
}

}  // namespace strata::testing
