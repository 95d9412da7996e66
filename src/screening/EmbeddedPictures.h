// The picture files of resources/pictures, compiled into the program by the build.
#pragma once

#include <string_view>

namespace gatemoor {

// The bytes of the picture file of that name (exact case); empty when there is none.
[[nodiscard]] std::string_view EmbeddedPicture(std::string_view fileName);

}  // namespace gatemoor
