// Helpers every test program shares.
#pragma once

#include <string>

namespace gatemoor::test {

// A fresh folder below the test program's private temporary folder, removed with it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    [[nodiscard]] const std::string& Path() const { return path_; }
    [[nodiscard]] std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The private temporary folder of this test program (program folder, settings, bus).
[[nodiscard]] const std::string& TestRoot();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace gatemoor::test
