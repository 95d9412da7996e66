# Script mode: writes OUTPUT, a C++ source with every *.gif file of FOLDER as a byte
# array and EmbeddedPicture() to find one by file name.
file(GLOB files ${FOLDER}/*.gif)
list(SORT files)
set(arrays "")
set(table "")
set(index 0)
foreach(file ${files})
  get_filename_component(name ${file} NAME)
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  if(size EQUAL 0)
    message(FATAL_ERROR "Empty picture file ${file}")
  endif()
  # Sixteen bytes a line (CMake's expressions know no counted repeats).
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "constexpr unsigned char kPicture${index}[] = {\n    ${bytes}};\n")
  string(APPEND table "    {\"${name}\", kPicture${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()

set(text "// Generated from resources/pictures by resources/EmbedPictures.cmake; do not edit.
#include \"screening/EmbeddedPictures.h\"

#include <cstddef>

namespace gatemoor {
namespace {

${arrays}
struct TPictureFile {
    std::string_view name;
    const unsigned char* bytes;
    std::size_t size;
};

constexpr TPictureFile kPictureFiles[] = {
${table}};

}  // namespace

std::string_view EmbeddedPicture(std::string_view fileName) {
    for (const TPictureFile& file : kPictureFiles) {
        if (file.name == fileName) return {reinterpret_cast<const char*>(file.bytes), file.size};
    }
    return {};
}

}  // namespace gatemoor
")
file(WRITE ${OUTPUT}.new "${text}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
