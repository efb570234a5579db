// RunFolder: the data folder made ready for one update run. Opening it
// finishes or undoes every change that an earlier run left half done (the
// tables' journals), removes the temporary folders of runs that died, and
// makes the run's own temporary folder inside the data folder, which the
// default session uses for the tables a restructure builds: a rebuilt table
// then reaches its place by a rename, and nothing lands in the current
// directory. Closing it gives the session its previous private directory
// back and removes the temporary folder.
//
// A change that cannot be recovered raises the engine's error naming the
// file that is missing or refused; nothing is deleted then.
#pragma once

#include <memory>
#include <string>

namespace strata {

class ScratchFolder;
class TStrataDatabase;

class RunFolder {
 public:
  explicit RunFolder(const std::string& directory);
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

 private:
  TStrataDatabase* database_ = nullptr;
  std::unique_ptr<ScratchFolder> scratch_;
  std::string previousPrivateDir_;
};

}  // namespace strata
