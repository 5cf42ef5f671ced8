// Temporary file names: directory + the first five digits of the thread id +
// a counter + extension, the first such name that does not exist yet.
#pragma once

#include <string>

#include "storage/files/file_handler.h"

namespace tarn {

// The first five decimal digits of the calling thread's id: the prefix of
// temporary file and table names.
std::string ThreadDigits();

// True when the name exists in the memory registry (inMemory) or on disk
// (found without regard to case).
bool FileNameExists(const std::string& name, bool inMemory);

// The first free temporary name for the calling thread.
std::string GetTempFileName(const std::string& directory, const std::string& extension, bool inMemory);

// Names the handler with a free temporary name and creates the file; a name
// taken by someone else between the check and the creation is skipped.
// Answers the name used.
std::string CreateTempFile(TFileHandler& handler, const std::string& directory, const std::string& extension);

}  // namespace tarn
