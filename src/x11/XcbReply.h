// Replies from the X server, owned: xcb hands each one over to be freed with free().
#pragma once

#include <cstdlib>
#include <memory>

namespace digitmosaic {

template <typename Reply>
using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

// Takes ownership of a reply (or of null, when the request failed).
template <typename Reply>
XcbReply<Reply> TakeReply(Reply* reply) {
    return {reply, &std::free};
}

}  // namespace digitmosaic
