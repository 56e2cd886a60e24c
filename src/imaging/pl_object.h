#pragma once

// Root of the image library's class tree. Bitmaps, decoders, sources, sinks, filters and
// the library's exception all derive from it so that any of them can be destroyed through
// a base pointer.
class PLObject {
public:
    PLObject() = default;
    PLObject(const PLObject&) = default;
    PLObject& operator=(const PLObject&) = default;
    virtual ~PLObject() = default;

    // A consistency hook that every class keeps empty; it checks nothing.
    virtual void CheckValid() const {}
};
