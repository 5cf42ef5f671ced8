// Engine start and stop, and the current data session of the calling thread.
#pragma once

#include <functional>
#include <memory>

namespace tarn {

class TDataSession;

// Starts the engine once per process: the character maps, the records-bitmap
// pool and the default data session are created; the default session is the current data session of every
// thread that has not set its own.
void InitializeTarn();
// Stops the engine: destroys the default session and the process-wide support
// structures (character maps, the records-bitmap pool and whatever the upper layers registered). Of the
// open-file list only the files no session holds are freed; the process's
// private directory is removed when no data session is left.
void ExitTarn();
bool TarnStarted();

// The calling thread's current data session; TARN_NOTINITIALIZED before the engine
// has started. A thread that never set one gets the default session.
TDataSession& GetCurrentDataSession();
void SetCurrentDataSession(TDataSession* session);

std::unique_ptr<TDataSession> StartDataSession(bool server = false);
void CloseDataSession(std::unique_ptr<TDataSession>& session);

// Process-wide support structures of upper layers (pools, caches) register how they
// are released when the engine stops.
void RegisterEngineShutdown(std::function<void()> release);

// Start-up work of an upper layer, such as installing the checks it provides to
// the layers below (the header checks' expression verifier). Every engine start
// runs the registered work in order of registration; work registered while the
// engine runs is done at once. Registering the same function again does nothing.
using TEngineStartup = void (*)();
void RegisterEngineStartup(TEngineStartup start);

}  // namespace tarn
