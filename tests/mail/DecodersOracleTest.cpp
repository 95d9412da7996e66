// An independent check of the Base64 and quoted-printable decoders on real mail: for
// every such part of every message of the corpus, the bytes our decoder gives for the
// part's lines equal the bytes that Python's own email package gives for it
// (decoders_oracle.py beside this file). Where our decoding rules differ on purpose, the
// part is listed below with the reason; a listed part that no longer differs fails too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "mail/EmailDecoders.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

struct ExpectedDifference {
    const char* file;  // relative to the corpus folder
    int part;          // index in the oracle's walk order, 0 = the message itself
    const char* reason;
};

// Why our rules and Python's part ways on the parts listed below.
constexpr const char* kUnpaddedEnd =
    "the last group lacks its padding: a group is only decoded when its line holds all "
    "four characters, Python completes the short group";
constexpr const char* kSpansLines =
    "lines whose length is no multiple of four: groups never span lines, so the "
    "leftover characters of each line are dropped";
constexpr const char* kTextInBody =
    "plain text inside the base64 lines (epilogue, list footer, header lines, "
    "placeholder, a stray '*'): every character takes its place in a group, Python "
    "skips what is outside the alphabet";
constexpr const char* kPythonGivesUp =
    "Python rejects the padding and hands back the encoded text; we decode it as "
    "its encoding says";
constexpr const char* kEqualsBeforeText =
    "'=' before a character that is no hex digit: we drop the '=', Python keeps it";
constexpr const char* kFinalBlanks =
    "blanks at the very end of the text, among its final line breaks, are padding to "
    "us and are dropped; Python keeps them";

const ExpectedDifference kExpectedDifferences[] = {
    {"cpython/test_email/data/msg_15.txt.eml", 2, kFinalBlanks},
    {"cpython/test_email/data/msg_39.txt.eml", 3, kUnpaddedEnd},
    {"cpython/test_email/data/msg_39.txt.eml", 4, kUnpaddedEnd},
    {"enmime/low-quality/bad-header-wrap.raw.eml", 2, kTextInBody},
    {"enmime/low-quality/malformed-base64-attach.raw.eml", 2, kTextInBody},
    {"enmime/mail/attachment-octet.raw.eml", 2, kSpansLines},
    {"enmime/mail/epilogue-sample.raw.eml", 2, kTextInBody},
    {"enmime/mail/inlinemultipart.raw.eml", 2, kUnpaddedEnd},
    {"enmime/mail/malformed-multiple-address-header-values.raw.eml", 2, kUnpaddedEnd},
    {"enmime/mail/mime-bad-content-transfer-encoding.raw.eml", 1, kPythonGivesUp},
    {"enmime/mail/mime-bad-content-type.raw.eml", 2, kUnpaddedEnd},
    {"enmime/mail/mime-blank-media-name.raw.eml", 2, kUnpaddedEnd},
    {"enmime/mail/mime-duplicate-param.raw.eml", 2, kUnpaddedEnd},
    {"enmime/mail/mime-unquoted-tspecials-param.raw.eml", 2, kUnpaddedEnd},
    {"enmime/parts/extra-base64-character.raw.eml", 1, kPythonGivesUp},
    {"enmime/parts/extra-base64-character.raw.eml", 2, kPythonGivesUp},
    {"enmime/parts/quoted-printable-invalid.raw.eml", 0, kEqualsBeforeText},
    {"mail-mime-parser/emails/m4009.txt.eml", 4, kUnpaddedEnd},
    {"mime4j/mimetools-testmsgs/frag.msg.eml", 11, kUnpaddedEnd},
    {"mime4j/mimetools-testmsgs/multi-frag.msg.eml", 5, kTextInBody},
    {"mimekit/partial/rfc2046.0.eml", 1, kTextInBody},
    {"mimekit/partial/rfc2046.eml", 0, kTextInBody},
    {"rspamd/messages/chain_multipart.eml", 0, kEqualsBeforeText},
    {"rspamd/messages/chain_redirect.eml", 0, kEqualsBeforeText},
    {"rspamd/messages/fname.eml", 1, kPythonGivesUp},
    {"rspamd/messages/fname.eml", 2, kPythonGivesUp},
    {"ruby-mail/emails/attachment_emails/attachment_message_rfc822_inline_image.eml", 3,
     kFinalBlanks},
    {"spamassassin/nice/cjk/big5-base64.1.eml", 0, kTextInBody},
    {"spamassassin/nice/mime4.eml", 2, kPythonGivesUp},
    {"spamassassin/spam/009.eml", 0, kEqualsBeforeText},
};

struct OraclePart {
    std::string file;
    int part = 0;
    std::string encoding;
    std::string raw;
    std::string decoded;
};

std::string FromHex(std::string_view hex) {
    auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    std::string bytes(hex.size() / 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(value(hex[2 * i]) * 16 + value(hex[2 * i + 1]));
    return bytes;
}

// The tab-separated fields of a row, empty ones included.
std::vector<std::string> Fields(const std::string& row) {
    std::vector<std::string> fields(1);
    for (const char c : row) {
        if (c == '\t')
            fields.emplace_back();
        else
            fields.back().push_back(c);
    }
    return fields;
}

std::string ShellQuoted(const std::string& text) {
    return "'" + text + "'";
}

TEST(DecodersOracle, Base64AndQuotedPrintablePartsDecodeAsPythonDecodesThem) {
    if (std::system("command -v python3 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is not installed";
    const test::TempFolder folder;
    const std::string output = folder.File("oracle.tsv");
    const std::string command =
        "python3 " +
        ShellQuoted(std::string(GATEMOOR_TEST_SOURCE_DIR) + "/mail/decoders_oracle.py") + " " +
        ShellQuoted(GATEMOOR_CORPUS_DIR) + " " + ShellQuoted(output);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    std::vector<OraclePart> parts;
    std::stringstream rows(test::ReadFile(output));
    for (std::string row; std::getline(rows, row);) {
        const std::vector<std::string> fields = Fields(row);
        if (fields.size() == 3 && fields[0] == "FAIL") {
            ADD_FAILURE() << "the oracle could not read " << fields[1] << ": " << fields[2];
            continue;
        }
        ASSERT_EQ(fields.size(), 6u) << row.substr(0, 200);
        ASSERT_EQ(fields[0], "PART");
        parts.push_back(
            {fields[1], std::stoi(fields[2]), fields[3], FromHex(fields[4]), FromHex(fields[5])});
    }
    ASSERT_FALSE(parts.empty()) << "the corpus gave no encoded parts";

    std::map<std::pair<std::string, int>, const ExpectedDifference*> expected;
    for (const ExpectedDifference& difference : kExpectedDifferences)
        expected[{difference.file, difference.part}] = &difference;

    std::map<std::pair<std::string, int>, bool> seen;
    for (const OraclePart& part : parts) {
        const TMIMEDecoderClass decoder = FindDecoderClass(part.encoding);
        ASSERT_NE(decoder, nullptr) << part.encoding;
        std::stringstream stream;
        (void)decoder->Decode(SplitLines(part.raw), stream);
        const bool differs = stream.str() != part.decoded;
        const auto key = std::make_pair(part.file, part.part);
        seen[key] = differs;
        const auto listed = expected.find(key);
        if (listed == expected.end()) {
            EXPECT_FALSE(differs) << part.file << " part " << part.part << " (" << part.encoding
                                  << ") decodes differently";
        } else {
            EXPECT_TRUE(differs) << part.file << " part " << part.part
                                 << " is listed as differing (" << listed->second->reason
                                 << ") but no longer does";
        }
    }
    for (const ExpectedDifference& difference : kExpectedDifferences) {
        EXPECT_TRUE(seen.count({difference.file, difference.part}))
            << difference.file << " part " << difference.part
            << " is listed but the oracle no longer reports it";
    }
}

}  // namespace
}  // namespace gatemoor
