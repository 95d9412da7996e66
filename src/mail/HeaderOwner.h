// What a header block needs of the message that owns it: the message's own header,
// the header registry, the modified mark, the owner's lock and the part tree. The
// message implements it; a header without owner needs none of it. Headers never look
// inside a part: they ask the owner, so that a stand-in owner may use parts as mere
// addresses.
#pragma once

#include <functional>

namespace gatemoor {

class TAbstractCriticalSection;
class TEmailHeader;
class TEmailMsgPart;

class THeaderOwner {
public:
    // Called for each part in a pre-order walk, with the part's header (which may be
    // shared with other parts); returning false ends the walk.
    using TPartVisitor = std::function<bool(TEmailMsgPart& part, const TEmailHeader* header)>;

    virtual ~THeaderOwner() = default;

    // The owner's main header; a header compares itself with it by address.
    [[nodiscard]] virtual const TEmailHeader* MainHeader() const = 0;
    // Enters a header in the registry of headers the owner frees, unless it is there.
    virtual void RegisterHeader(TEmailHeader& header) = 0;
    // Takes a header out of the registry; nothing when it is not there. Headers call
    // it from their destructor, also while the owner is freeing its registry.
    virtual void UnregisterHeader(TEmailHeader& header) = 0;
    // Every change to a header's fields marks its owner modified.
    virtual void MarkModified() = 0;
    // Held by the header queries that consult the owner, inside the header's own lock.
    [[nodiscard]] virtual TAbstractCriticalSection& OwnerLock() const = 0;
    // Visits every part of the owner's tree in pre-order until `visit` returns false.
    virtual void WalkParts(const TPartVisitor& visit) const = 0;
    // The depth of one of the owner's parts: 0 for the parts directly under the message.
    [[nodiscard]] virtual int PartDepth(const TEmailMsgPart& part) const = 0;
    // The header of the container that holds one of the owner's parts: the enclosing
    // part's header, or the main header for a part directly under the message; null
    // when the part hangs in no tree.
    [[nodiscard]] virtual const TEmailHeader* EnclosingHeader(const TEmailMsgPart& part) const = 0;
    // The first part of a pre-order walk whose header is `header`; null when none. This
    // one walks the tree; an owner with many parts answers from an index instead, since
    // headers ask it for every part.
    [[nodiscard]] virtual TEmailMsgPart* PartOfHeader(const TEmailHeader& header) const;
    // A part reports that it gave up the header `before` and took `after` (either may be
    // null: a new part, a destroyed one), so that an index stays true.
    virtual void PartHeaderChanged(TEmailMsgPart& /*part*/, const TEmailHeader* /*before*/,
                                   const TEmailHeader* /*after*/) {}
};

}  // namespace gatemoor
