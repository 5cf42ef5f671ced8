// Registration of the expression layer's start-up work with the engine.
#include "expressions/expression_layer.h"

#include "engine/engine_state.h"
#include "expressions/literal_validation.h"

namespace tarn {

namespace {

void StartExpressionLayer() { InstallExpressionVerifier(); }

}  // namespace

bool RegisterExpressionLayer() noexcept {
  // Function-local, so the first object file initialised does the work
  // whatever the order of static initialisation between files.
  static const bool registered = [] {
    RegisterEngineStartup(&StartExpressionLayer);
    return true;
  }();
  return registered;
}

}  // namespace tarn
