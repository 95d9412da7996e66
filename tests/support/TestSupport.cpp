#include "support/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/SystemServices.h"

namespace gatemoor::test {
namespace fs = std::filesystem;

const std::string& TestRoot() {
    static const std::string root = [] {
        unsigned char bytes[6];
        platform::RandomBytes(bytes, sizeof bytes);
        std::string name = "gatemoor-test-";
        for (unsigned char b : bytes) name += "0123456789abcdef"[b & 15];
        fs::path path = fs::temp_directory_path() / name;
        fs::create_directories(path);
        return path.string();
    }();
    return root;
}

TempFolder::TempFolder() {
    static int serial = 0;
    path_ = TestRoot() + "/t" + std::to_string(++serial);
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace gatemoor::test
