#include "PageRule.h"

namespace bt {

bool PageRule::Fail(const std::string &reason, std::string &error)
{
    broken_ = true;
    reason_ = error = reason;
    return false;
}

bool PageRule::Page(size_t size, const Gone &gone, const Connect &connect, const Send &send, std::string &error)
{
    if (broken_) {
        error = reason_;
        return false;
    }
    bool reconnected = false;
    if (gone()) {
        std::string why;
        if (!connect(why))
            return Fail("The link to the printer dropped between pages and reconnecting failed: " + why, error);
        reconnected = true;
        ++reconnects_;
    }
    size_t sent = 0;
    bool linkGone = false;
    if (send(sent, error, linkGone))
        return true;
    if (sent == 0 && linkGone && !reconnected) {
        // Gone before this page's first byte: the page can go whole on a new
        // link.
        std::string why;
        if (connect(why)) {
            ++reconnects_;
            if (send(sent, error, linkGone))
                return true;
        } else {
            error += "; reconnecting failed: " + why;
        }
    }
    if (sent > 0)
        return Fail(error + " after " + std::to_string(sent) + " of " + std::to_string(size) +
                        " bytes of a page; the rest of the page was not sent and it is not sent again.",
                    error);
    return Fail(error + ".", error);
}

bool PageRule::More(bool open, const Send &send, std::string &error)
{
    if (broken_ || !open) {
        error = broken_ ? reason_ : "The link to the printer is not open.";
        return false;
    }
    size_t sent = 0;
    bool gone = false;
    if (send(sent, error, gone))
        return true;
    return Fail(error + " in the middle of a page; the rest of the page was not sent and it is not sent again.", error);
}

} // namespace bt
