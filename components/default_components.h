// The program's default components: the engine component (one holder) and
// the session "Default". main() makes one DefaultComponents before the
// window and keeps it to the end; destroying it switches the default
// session off and frees it, then lets go of the engine, whose last holder
// frees everything else. Tests make and destroy their own.
#pragma once

#include "components/strata_engine.h"
#include "components/strata_session.h"

namespace strata {

class DefaultComponents {
 public:
  DefaultComponents();
  ~DefaultComponents();
  DefaultComponents(const DefaultComponents&) = delete;
  DefaultComponents& operator=(const DefaultComponents&) = delete;

  TStrataEngine& Engine() const { return *engine_; }
  TStrataSession& Session() const { return *session_; }

 private:
  EngineHolder engine_;
  TStrataSession* session_;
};

// The process's engine component and its default session; std::logic_error
// when there are none.
TStrataEngine& DefaultEngine();
TStrataSession& DefaultSession();

}  // namespace strata
