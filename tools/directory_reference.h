// One reference to a directory of a session, given back when it goes out of
// scope, for the subcommands that work on a directory. A directory for
// reading (the default) never gets a lock file; one for writing may.
#pragma once

#include <string_view>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"

namespace strata::tools {

class DirectoryReference {
 public:
  DirectoryReference(TDataSession& session, std::string_view directory, bool forWriting = false)
      : session_(session),
        directory_(forWriting ? session.OpenDirectory({}, directory)
                              : session.OpenDirectoryForReading(directory)) {}
  ~DirectoryReference() { session_.CloseDirectory(directory_); }
  DirectoryReference(const DirectoryReference&) = delete;
  DirectoryReference& operator=(const DirectoryReference&) = delete;
  TDataDirectory& operator*() const { return directory_; }

 private:
  TDataSession& session_;
  TDataDirectory& directory_;
};

}  // namespace strata::tools
