#include "components/default_components.h"

#include <stdexcept>

#include "engine/errors/set_aside.h"

namespace strata {

DefaultComponents::DefaultComponents() : session_(&engine_->CreateDefaultSession()) {}

DefaultComponents::~DefaultComponents() {
  SetAsideError("the engine's last holder frees the session anyway",
                [&] { engine_->FreeSession(*session_); });
}

TStrataEngine& DefaultEngine() {
  TStrataEngine* engine = TStrataEngine::Instance();
  if (engine == nullptr) throw std::logic_error("no engine component exists");
  return *engine;
}

TStrataSession& DefaultSession() {
  TStrataSession* session = DefaultEngine().DefaultSession();
  if (session == nullptr) throw std::logic_error("no default session exists");
  return *session;
}

}  // namespace strata
