// File names: the temporary folder, unique names for new files, and finding files by
// mask.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gatemoor {

// The platform's temporary folder, without a trailing separator.
[[nodiscard]] std::string TempFolder();

// A path for a new file: folder + name + "(" + 5 random letters and digits + ")" +
// extension, drawn again until nothing has that path; when the folder does not exist
// it is created and the name goes without the suffix. An empty folder means
// TempFolder(). Unless `keepBlanks` the name's blanks become "_"; characters that are
// not file-name characters are always dropped from it. False (with `path` set all the
// same) when the folder could not be created.
bool GetUniquePath(std::string_view folder, std::string_view name, std::string_view extension,
                   std::string& path, bool keepBlanks = false);

// Appends the full paths of the files in `folder` whose names match `mask` (`*` any
// run, `?` any one character, ASCII case ignored; "*.*" matches every name), in name
// order, then those of its subfolders when `recurse`. Stops after adding `limit` paths
// (no limit when `limit` <= 0). Unreadable folders are passed over. Returns the number
// of paths added.
int FindFiles(std::string_view folder, std::string_view mask, bool recurse, int limit,
              std::vector<std::string>& list);

}  // namespace gatemoor
