// What this computer's file-type database says about extensions and MIME types: the
// type of an extension, the extension of a type, the program that opens an extension
// and the name behind a class id. Answers that the screening relies on (programs,
// scripts, Office documents, pictures) come from a fixed table so that they do not
// depend on the machine.
#pragma once

#include <string>
#include <string_view>

namespace gatemoor {

// The extension of a file name with its dot, after trailing dots are dropped; empty when
// the name has none.
[[nodiscard]] std::string FileExtOf(std::string_view name);

// The MIME type of an extension (a dot is optional). False when none is known: `type` is
// then "application/octet-stream", or empty for an empty extension.
bool MimeTypeOfExtension(std::string_view extension, std::string& type);
// MimeTypeOfExtension of FileExtOf(name).
bool MimeTypeOfFileName(std::string_view name, std::string& type);
// The extension, with its dot, of a MIME type. False when the type has none: `extension`
// is then ".txt".
bool ExtensionOfMimeType(std::string_view mimeType, std::string& extension);
// The command of the desktop's default application for the extension's type, without
// field codes and quotes; false and empty when there is none.
bool AssociatedProgram(std::string_view extension, std::string& program);
// True when classId ("{...}") is a well-known class id; `name` is what it stands for.
bool LookUpClassId(std::string_view classId, std::string& name);

}  // namespace gatemoor
