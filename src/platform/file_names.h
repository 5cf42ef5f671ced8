// File names: separators, trimming, case-insensitive resolution of a name to
// the file on disk (exact name first, then the one case-insensitive match),
// wildcard matching and directory listings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// Trims blanks at both ends and reads every '\' as '/' (stepping over
// double-byte characters, whose trail byte may be 0x5C).
std::string NormalizeFileName(std::string_view name);

// Directory part including its trailing '/' ("" when none) and the bare name.
void SplitFileName(std::string_view path, std::string& directory, std::string& name);

// The name without its extension (the part from the last '.' of the bare name).
std::string RemoveFileExtension(std::string_view name);

// The existing file the (normalized) path names: the exact path when it exists,
// else the unique entry of its directory whose name equals the bare name
// without regard to case. When there is none (or several), the path itself.
std::string ResolveFileName(const std::string& path);

// Wildcard match without regard to case: '*' any run of characters, '?' one
// character (a double-byte character counts as one).
bool MatchesWildcard(std::string_view name, std::string_view pattern);

// Bare names of the regular files in a directory that match the pattern.
// Answers 0 or errno.
int ListDirectory(const std::string& directory, std::string_view pattern, std::vector<std::string>& names);

}  // namespace tarn
