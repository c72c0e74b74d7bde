// The promise both Bluetooth links keep: nothing is sent twice.
//
// A link found gone before a page is connected again, once. A link that goes
// before a page's first byte left sends the page whole on a new link. A link
// that goes once any byte of a page left ends the job, the reason saying how
// much went out; the rest of that page is never sent again, and nothing
// after it is sent on that link.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace bt {

class PageRule {
public:
    // Sends the bytes in hand: `sent` counts those that left, `gone` says
    // the link went (as opposed to a local fault).
    using Send = std::function<bool(size_t &sent, std::string &error, bool &gone)>;
    using Connect = std::function<bool(std::string &why)>;
    using Gone = std::function<bool()>;

    // The start of a page of `size` bytes.
    bool Page(size_t size, const Gone &gone, const Connect &connect, const Send &send, std::string &error);
    // More bytes of the page being sent, on a link that is `open`: never
    // reconnects.
    bool More(bool open, const Send &send, std::string &error);

    // A link opened afresh by its owner.
    void Opened() { broken_ = false; }
    bool Broken() const { return broken_; }
    int Reconnects() const { return reconnects_; }

private:
    bool Fail(const std::string &reason, std::string &error);

    bool broken_ = false;
    std::string reason_;
    int reconnects_ = 0;
};

} // namespace bt
