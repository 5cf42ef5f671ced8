// The expression layer's place in the program: what it installs in the layers
// below whenever it is linked in. Every source file of the layer includes this
// header, so a program that uses any part of the layer registers it with the
// engine before main runs, and each engine start then installs the layer's
// checks (the table-header verifier of default, minimum and maximum texts)
// without its callers having to remember.
#pragma once

namespace tarn {

// Registers the layer's start-up work with the engine, once per process;
// answers true.
bool RegisterExpressionLayer() noexcept;

namespace expression_layer_detail {
// Initialised in every object file that includes this header (once in all);
// the initialiser pulls the registration into any program using the layer.
inline const bool kRegistered = RegisterExpressionLayer();
}  // namespace expression_layer_detail

}  // namespace tarn
