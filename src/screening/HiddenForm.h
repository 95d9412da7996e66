// The template form that holds the pictures the report service serves: the transparent
// placeholder that replaces blocked pictures and the buttons that reports show. It is
// created once when the program starts and never shown; the pictures are compiled into
// the program.
#pragma once

#include <array>
#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gatemoor {

// A non-visual component that owns a block of bytes. In a form's stored description the
// bytes are its property "TheData": a 4-byte little-endian length, then the bytes.
class TBinaryData {
public:
    explicit TBinaryData(std::string name) : name_(std::move(name)) {}

    [[nodiscard]] const std::string& Name() const { return name_; }

    [[nodiscard]] std::size_t GetDataSize() const { return data_.size(); }
    // Cuts the bytes, or adds zero bytes, to `size`.
    void SetDataSize(std::size_t size) { data_.resize(size); }
    // The bytes themselves.
    [[nodiscard]] std::string& Data() { return data_; }
    [[nodiscard]] const std::string& Data() const { return data_; }
    // Writes the bytes to `stream`; false when the stream failed.
    bool CopyTo(std::ostream& stream) const;

    // The property "TheData" as stored.
    [[nodiscard]] std::string WriteTheData() const;
    // Takes the bytes from a stored property. False, and the bytes unchanged, when the
    // stored length is not the number of bytes that follow it.
    bool ReadTheData(std::string_view stored);

private:
    std::string name_;
    std::string data_;
};

class THiddenForm1 {
public:
    static constexpr std::size_t kComponentCount = 16;

    // Every component loaded with its picture.
    THiddenForm1();
    THiddenForm1(const THiddenForm1&) = delete;
    THiddenForm1& operator=(const THiddenForm1&) = delete;

    TBinaryData Bulk_Gif{"Bulk_Gif"};
    TBinaryData ChainLetter_gif{"ChainLetter_gif"};
    TBinaryData hoax_gif{"hoax_gif"};
    TBinaryData joke_gif{"joke_gif"};
    TBinaryData Personal_gif{"Personal_gif"};
    TBinaryData Petition_gif{"Petition_gif"};
    TBinaryData spacer_gif{"spacer_gif"};
    TBinaryData spam_gif{"spam_gif"};
    TBinaryData UrbanLegend_gif{"UrbanLegend_gif"};
    TBinaryData ViewReport_gif{"ViewReport_gif"};
    TBinaryData Virus_gif{"Virus_gif"};
    TBinaryData Classify_gif{"Classify_gif"};
    TBinaryData DotClear_gif{"DotClear_gif"};  // the transparent placeholder
    TBinaryData Spam2_gif{"Spam2_gif"};
    TBinaryData Personal2_gif{"Personal2_gif"};
    TBinaryData ViewReport2_gif{"ViewReport2_gif"};

    // The components in the order above.
    [[nodiscard]] std::array<const TBinaryData*, kComponentCount> Components() const;
    // The component of that name (exact case); null when there is none.
    [[nodiscard]] const TBinaryData* FindComponent(std::string_view name) const;

    struct TServedPicture {
        std::string_view fileName;
        const TBinaryData* picture;
    };
    // The file names the report service serves the pictures under: the placeholder as
    // "BlockedImage.gif" and as "DotClear.gif", every button under its own name.
    [[nodiscard]] std::vector<TServedPicture> ServedPictures() const;
};

}  // namespace gatemoor
