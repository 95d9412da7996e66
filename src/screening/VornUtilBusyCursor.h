// The hourglass that the main thread shows while it blocks on a lookup or a program.
#pragma once

namespace gatemoor {

// Shows the wait cursor for its lifetime when made on the main thread of a graphical
// application; does nothing elsewhere.
class TBusyCursor {
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    bool shown_ = false;
};

}  // namespace gatemoor
