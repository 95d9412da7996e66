#include "screening/VornUtilPack.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace gatemoor {

namespace {

constexpr char kMethodSplay = 0;
constexpr char kMethodStored = 2;
// Texts this long or longer are coded; shorter ones are stored.
constexpr std::size_t kCodeFromLength = 100;
constexpr std::size_t kBlockLength = 32767;

// The adaptive prefix code: a binary tree whose leaves are the 256 byte values and an
// end-of-block symbol. Each coded symbol is moved towards the root by semi-splaying,
// so frequent symbols get short codes. Internal nodes are 0 to 255 (root 0), node k
// having the children 2k+1 and 2k+2 at the start; leaves are 256 to 512.
class TSplayTree {
public:
    static constexpr int kEndOfBlock = 256;
    // No leaf lies deeper than the number of internal nodes.
    static constexpr int kPathLimit = 256;

    TSplayTree() {
        for (int node = 1; node < kNodes; ++node)
            up_[node] = static_cast<std::int16_t>((node - 1) / 2);
        for (int node = 0; node < kInternal; ++node) {
            left_[node] = static_cast<std::int16_t>(2 * node + 1);
            right_[node] = static_cast<std::int16_t>(2 * node + 2);
        }
    }

    // Writes the symbol's code into `bits`, leaf first (true for a right child), and
    // answers its length; the code is read from the end of `bits` back to its start.
    int Path(int symbol, std::array<bool, kPathLimit>& bits) const {
        int length = 0;
        for (int node = symbol + kInternal; node != kRoot; node = up_[node]) {
            bits[length++] = right_[up_[node]] == node;
        }
        return length;
    }

    [[nodiscard]] int Child(int node, bool right) const {
        return right ? right_[node] : left_[node];
    }
    [[nodiscard]] static bool IsLeaf(int node) { return node >= kInternal; }
    [[nodiscard]] static int SymbolOf(int leaf) { return leaf - kInternal; }

    // Walks from the symbol's leaf to the root two levels at a time: the node swaps
    // places with its grandparent's other child, then the walk goes on from the
    // grandparent.
    void Splay(int symbol) {
        int a = symbol + kInternal;
        while (a != kRoot) {
            const int c = up_[a];
            if (c == kRoot) break;
            const int d = up_[c];
            int b = left_[d];
            if (c == b) {
                b = right_[d];
                right_[d] = static_cast<std::int16_t>(a);
            } else {
                left_[d] = static_cast<std::int16_t>(a);
            }
            if (a == left_[c]) {
                left_[c] = static_cast<std::int16_t>(b);
            } else {
                right_[c] = static_cast<std::int16_t>(b);
            }
            up_[a] = static_cast<std::int16_t>(d);
            up_[b] = static_cast<std::int16_t>(c);
            a = d;
        }
    }

private:
    static constexpr int kRoot = 0;
    static constexpr int kInternal = 256;
    static constexpr int kNodes = 2 * kInternal + 1;

    std::array<std::int16_t, kNodes> up_{};
    std::array<std::int16_t, kInternal> left_{};
    std::array<std::int16_t, kInternal> right_{};
};

class TBitWriter {
public:
    explicit TBitWriter(std::string& out) : out_(out) {}
    void Write(bool bit) {
        if (bit) current_ = static_cast<std::uint8_t>(current_ | (1u << used_));
        if (++used_ == 8) Flush();
    }
    void PadToByte() {
        if (used_ > 0) Flush();
    }

private:
    void Flush() {
        out_.push_back(static_cast<char>(current_));
        current_ = 0;
        used_ = 0;
    }
    std::string& out_;
    std::uint8_t current_ = 0;
    int used_ = 0;
};

class TBitReader {
public:
    explicit TBitReader(std::string_view data) : data_(data) {}
    // The next bit, least significant first; -1 at the end of the data.
    int Read() {
        if (bit_ >= data_.size() * 8) return -1;
        const auto byte = static_cast<std::uint8_t>(data_[bit_ / 8]);
        const int bit = (byte >> (bit_ % 8)) & 1;
        ++bit_;
        return bit;
    }
    void SkipToByte() { bit_ = (bit_ + 7) / 8 * 8; }

private:
    std::string_view data_;
    std::size_t bit_ = 0;
};

void CodeSymbol(TSplayTree& tree, TBitWriter& writer, int symbol) {
    std::array<bool, TSplayTree::kPathLimit> path;
    for (int k = tree.Path(symbol, path); k-- > 0;)
        writer.Write(path[k]);
    tree.Splay(symbol);
}

std::string SplayCode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    TSplayTree tree;
    TBitWriter writer(out);
    for (std::size_t from = 0; from < bytes.size(); from += kBlockLength) {
        for (char c : bytes.substr(from, kBlockLength)) {
            CodeSymbol(tree, writer, static_cast<std::uint8_t>(c));
        }
        CodeSymbol(tree, writer, TSplayTree::kEndOfBlock);
        writer.PadToByte();
    }
    return out;
}

// Every bit string walks the tree to some leaf, and every symbol takes at least one
// bit, so any data decodes to at most eight bytes per byte and the walk ends.
std::string SplayDecode(std::string_view data) {
    std::string out;
    TSplayTree tree;
    TBitReader reader(data);
    for (;;) {
        int node = 0;
        while (!TSplayTree::IsLeaf(node)) {
            const int bit = reader.Read();
            if (bit < 0) return out;  // a symbol cut short by the end of the data
            node = tree.Child(node, bit == 1);
        }
        const int symbol = TSplayTree::SymbolOf(node);
        tree.Splay(symbol);
        if (symbol == TSplayTree::kEndOfBlock) {
            reader.SkipToByte();
        } else {
            out.push_back(static_cast<char>(symbol));
        }
    }
}

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group <<= 8;
            if (k < count) group |= static_cast<std::uint8_t>(bytes[i + k]);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out.push_back(k <= count ? kBase64Alphabet[(group >> (18 - 6 * k)) & 63] : '=');
        }
    }
    return out;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict: whole groups of four, "=" only as the padding of the last one.
bool Base64Decode(std::string_view text, std::string& out) {
    if (text.empty() || text.size() % 4 != 0) return false;
    out.clear();
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::size_t padding = 0;
        if (last) {
            if (text[i + 3] == '=') ++padding;
            if (padding == 1 && text[i + 2] == '=') ++padding;
        }
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            int value = 0;
            if (k < 4 - padding) {
                value = Base64Value(text[i + k]);
                if (value < 0) return false;
            }
            group = (group << 6) | static_cast<std::uint32_t>(value);
        }
        for (std::size_t k = 0; k < 3 - padding; ++k) {
            out.push_back(static_cast<char>((group >> (16 - 8 * k)) & 0xFF));
        }
    }
    return true;
}

}  // namespace

std::string PackText(std::string_view text) {
    if (text.empty()) return {};
    std::string bytes;
    if (text.size() < 3 || text.starts_with("..")) bytes = "..";
    bytes.append(text);
    std::string packed;
    if (bytes.size() < kCodeFromLength) {
        packed.push_back(kMethodStored);
        packed += bytes;
    } else {
        packed.push_back(kMethodSplay);
        packed += SplayCode(bytes);
    }
    return Base64Encode(packed);
}

std::string UnpackText(std::string_view text) {
    std::string padded(text);
    if (padded.size() < 4) padded.append(4 - padded.size(), '=');
    std::string packed;
    if (!Base64Decode(padded, packed)) packed.assign(text);
    std::string result;
    if (!packed.empty()) {
        const std::string_view payload = std::string_view(packed).substr(1);
        if (packed[0] == kMethodStored) {
            result.assign(payload);
        } else if (packed[0] == kMethodSplay) {
            result = SplayDecode(payload);
        }
    }
    if (result.size() > 2 && result.starts_with("..")) result.erase(0, 2);
    return result;
}

}  // namespace gatemoor
