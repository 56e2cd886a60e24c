#pragma once

// Thrown when a render view's buffers cannot be made for a reason other than memory (a side
// below the renderer's least, a row stride shorter than a row). A refused allocation throws
// KVOutOfMemoryException instead. Callers catch it by type; the message is the text users
// have always been shown for this failure.

#include <cstdint>
#include <string_view>

class ViewBuffersException {
public:
    // sizeResult: what QRender::SetSize returned.
    explicit ViewBuffersException(std::int32_t sizeResult) : result(sizeResult) {}

    std::string_view Message() const { return "Error in QRenderView::InitViewBuffers"; }
    std::int32_t SizeResult() const { return result; }

private:
    std::int32_t result = 0;
};
